#pragma once

namespace bopling {

// Chooses how the panel is drawn, before the application object exists.
//
// When OpenGL is only a software rasterizer (llvmpipe and friends: virtual
// machines, Xvfb, machines without a GPU driver), Qt Quick's own software
// renderer costs a fraction of the CPU, so it shows the web view instead, and
// OpenGL is not loaded into the program at all: the software rasterizer alone
// maps some 30 MB. The web engine then composes in software as well. With a
// real GPU nothing changes. QT_QUICK_BACKEND and QSG_RHI_BACKEND, when set,
// win, and the GPU path is kept.
//
// The question is asked of a short-lived child process, so that the
// rasterizer the answer needs is never loaded here. Returns true when the
// software path was chosen.
bool chooseSceneGraphBackend(int argc, char **argv);

// Undoes what chooseSceneGraphBackend set in the environment only for this
// process's display connection. Call right after the application object exists.
void applicationCreated();

// Switches for the web engine that hold on every path (see the definition),
// added to QTWEBENGINE_CHROMIUM_FLAGS. Call before the application object
// exists.
void addEngineSwitches(bool software);

} // namespace bopling

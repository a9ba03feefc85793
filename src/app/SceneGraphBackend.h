#pragma once

namespace bopling {

// Chooses how Qt Quick (which shows the web view) draws, before the first
// window exists. When OpenGL is only a software rasterizer (llvmpipe and
// friends: virtual machines, Xvfb, machines without a GPU driver), Qt Quick's
// own software renderer costs a fraction of the CPU, so it is used instead;
// with a real GPU nothing changes. QT_QUICK_BACKEND and QSG_RHI_BACKEND, when
// set, win. Call after the application object exists. Returns true when the
// software renderer was chosen.
bool chooseSceneGraphBackend();

} // namespace bopling

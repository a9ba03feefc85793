#pragma once

#include <memory>

class QWindow;

namespace bopling {

// What the overlay asks of the desktop beyond Qt: the window manager hints that
// keep the panel on every desktop and out of task bars and pagers. X11 has an
// implementation; elsewhere the null one does nothing. Main thread only.
class DesktopQueries
{
public:
    DesktopQueries() = default;
    virtual ~DesktopQueries() = default;
    DesktopQueries(const DesktopQueries &) = delete;
    DesktopQueries &operator=(const DesktopQueries &) = delete;

    // Marks `window` as shown on every desktop and skipped by task bars and
    // pagers. Works before and after the window is mapped.
    virtual void preparePanel(QWindow *window) = 0;

    // The implementation for the platform the application runs on.
    static std::unique_ptr<DesktopQueries> create();
};

// For platforms without X11: the window stays as Qt made it.
class NullDesktopQueries final : public DesktopQueries
{
public:
    void preparePanel(QWindow *) override {}
};

} // namespace bopling

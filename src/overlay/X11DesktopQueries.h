#pragma once

#include "overlay/DesktopQueries.h"

#include <cstdint>

struct xcb_connection_t;

namespace bopling {

// EWMH hints through Qt's own xcb connection.
class X11DesktopQueries final : public DesktopQueries
{
public:
    explicit X11DesktopQueries(xcb_connection_t *connection);

    void preparePanel(QWindow *window) override;

private:
    std::uint32_t atom(const char *name);

    xcb_connection_t *connection;
};

} // namespace bopling

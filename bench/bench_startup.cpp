// Launch to window: how long the panel takes from its start until its window is mapped on
// the X server, beside an empty QMainWindow (and one linked with Qwt) under the same
// server, each started several times in turn; medians. The panel leaves OpenGL out; the
// empty window is measured that way too, for what the panel itself adds. Needs an X server
// in DISPLAY:
//     xvfb-run -a build/bench/bench_startup [runs [program ...]]      (default 7 runs)
// Further programs (another build of the panel, say) are measured beside them.
#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <QTemporaryDir>
#include <QVector>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <poll.h>

namespace {

constexpr int TimeoutMs = 30000;

struct Program
{
    const char *name;
    QString path;
    QVector<double> ms;
    bool withoutOpenGl = false;
};

// Waits for the first window mapped on the root window after the call; its time in ms
// since `started`, or a negative number on time-out.
double waitForMap(xcb_connection_t *x, const QElapsedTimer &started)
{
    const int fd = xcb_get_file_descriptor(x);
    while (started.elapsed() < TimeoutMs) {
        while (xcb_generic_event_t *event = xcb_poll_for_event(x)) {
            const bool mapped = (event->response_type & 0x7f) == XCB_MAP_NOTIFY;
            std::free(event);
            if (mapped)
                return started.nsecsElapsed() / 1e6;
        }
        pollfd wait = {fd, POLLIN, 0};
        ::poll(&wait, 1, 100);
    }
    return -1;
}

void drain(xcb_connection_t *x)
{
    xcb_flush(x);
    while (xcb_generic_event_t *event = xcb_poll_for_event(x))
        std::free(event);
}

double median(QVector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char *argv[])
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    xcb_connection_t *x = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(x)) {
        std::fprintf(stderr, "bench_startup: no X server (run it under xvfb-run)\n");
        return 1;
    }
    xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(x)).data;
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(x, screen->root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(x);

    // The panel with scratch settings, so that no saved address of the user's counts.
    QTemporaryDir config;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.remove(QStringLiteral("QT_XCB_GL_INTEGRATION"));

    QVector<Program> programs
        = {{"bare QMainWindow", QStringLiteral(BENCH_STARTUP_BARE), {}},
           {"bare QMainWindow + Qwt", QStringLiteral(BENCH_STARTUP_BARE_QWT), {}},
           {"bare QMainWindow, no GL", QStringLiteral(BENCH_STARTUP_BARE), {}, true},
           {"korvane-panel", QStringLiteral(KORVANE_PANEL_PATH), {}}};
    for (int i = 2; i < argc; ++i)
        programs.append({argv[i], QString::fromLocal8Bit(argv[i]), {}});
    for (int run = 0; run < runs; ++run) {
        for (Program &program : programs) {
            drain(x);
            QProcess process;
            QProcessEnvironment own = environment;
            if (program.withoutOpenGl)
                own.insert(QStringLiteral("QT_XCB_GL_INTEGRATION"), QStringLiteral("none"));
            process.setProcessEnvironment(own);
            process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            process.setStandardOutputFile(QProcess::nullDevice());
            QElapsedTimer started;
            started.start();
            process.start(program.path, QStringList());
            const double ms = waitForMap(x, started);
            process.kill();
            process.waitForFinished(TimeoutMs);
            if (ms < 0) {
                std::fprintf(stderr, "bench_startup: %s never showed a window\n", program.name);
                return 1;
            }
            program.ms.append(ms);
        }
    }
    xcb_disconnect(x);

    const double bare = median(programs[0].ms);
    const double bareWithoutGl = median(programs[2].ms);
    std::printf("%-26s %10s %10s %10s %10s %10s\n",
                "launch to window (ms)",
                "min",
                "median",
                "max",
                "/ bare",
                "/ no GL");
    for (const Program &program : programs) {
        const QVector<double> &ms = program.ms;
        std::printf("%-26.26s %10.1f %10.1f %10.1f %10.2f %10.2f\n",
                    program.name,
                    *std::min_element(ms.begin(), ms.end()),
                    median(ms),
                    *std::max_element(ms.begin(), ms.end()),
                    median(ms) / bare,
                    median(ms) / bareWithoutGl);
    }
    std::printf("runs of each: %d\n", runs);
    return 0;
}

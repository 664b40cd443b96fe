// Frames decoded per second by the protocol library: the reply stream of a busy link,
// assembled byte by byte and decoded, as the panel does on every poll.
#include "frameassembler.h"
#include "replies.h"

#include <QElapsedTimer>

#include <cstdio>

namespace {

struct Result
{
    const char *name;
    qint64 frames;
    qint64 nanoseconds;
};

template<typename Decode>
Result run(const char *name, const QByteArray &wire, int rounds, Decode decode)
{
    FrameAssembler assembler;
    qint64 frames = 0;
    double sink = 0;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < rounds; ++i) {
        for (const char byte : wire) {
            if (assembler.push(byte)) {
                sink += decode(assembler.frame());
                ++frames;
            }
        }
    }
    const qint64 elapsed = clock.nsecsElapsed();
    if (sink < 0)
        std::printf("%f\n", sink); // keeps the decoding from being optimised away
    return {name, frames, elapsed};
}

} // namespace

int main()
{
    Reply::MeasValues meas;
    meas.cellTenths[0] = 253;
    meas.cellTenths[1] = 248;
    meas.driverTenths = 301;
    meas.powerTenths[0] = 123;
    const QByteArray measWire = Reply::measFrame(meas).repeated(100);
    const QByteArray statusWire = Reply::statusFrame({65, 55, 60, true, 10, {21, 21, 21}})
                                      .repeated(100);
    const QByteArray identWire = Reply::identificationFrame("700136A").repeated(100);
    const int rounds = 2000;

    const Result results[] = {
        run("measurement",
            measWire,
            rounds,
            [](const QByteArray &f) { return Reply::decodeMeasurement(f).cellTenths[0]; }),
        run("status",
            statusWire,
            rounds,
            [](const QByteArray &f) { return Reply::decodeStatus(f).gainDb[2]; }),
        run("identification",
            identWire,
            rounds,
            [](const QByteArray &f) { return double(Reply::windowTitle(f).size()); }),
    };

    std::printf("%-16s %10s %14s %12s\n", "frame kind", "frames", "frames/s", "us/frame");
    for (const Result &r : results) {
        const double seconds = r.nanoseconds / 1e9;
        std::printf("%-16s %10lld %14.0f %12.3f\n",
                    r.name,
                    static_cast<long long>(r.frames),
                    r.frames / seconds,
                    r.nanoseconds / 1e3 / r.frames);
    }
    std::printf("(the panel needs 10 measurement frames/s per link)\n");
    return 0;
}

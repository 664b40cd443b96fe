// libFuzzer target: arbitrary bytes from a device through frame assembly and every reply
// decoder, and arbitrary command lines through the command reader. Any crash, hang or
// sanitizer report is a bug; results are not checked beyond their own invariants.
#include "commands.h"
#include "frameassembler.h"
#include "models.h"
#include "replies.h"

#include <QList>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

void decodeFrame(const QByteArray &frame)
{
    switch (Reply::kindOf(frame)) {
    case Reply::Kind::Identification: {
        // Whatever the bytes, the title holds no line end, NUL or frame end.
        const QString title = Reply::windowTitle(frame);
        if (title.contains(QLatin1Char('\r')) || title.contains(QLatin1Char('\n'))
            || title.contains(QChar(0))
            || title.size() > int(sizeof(Reply::TitlePrefix)) - 1 + Reply::ModelTextLength)
            std::abort();
        Reply::decodeIdentity(frame);
        break;
    }
    case Reply::Kind::Status: {
        const Reply::Status status = Reply::decodeStatus(frame);
        if (status.fieldCount < 0 || status.fieldCount > Reply::StatusFieldCount)
            std::abort();
        break;
    }
    case Reply::Kind::Measurement: {
        const Reply::Measurement m = Reply::decodeMeasurement(frame);
        if (m.fieldCount < 0 || m.fieldCount > Reply::MeasFieldCount)
            std::abort();
        // A reading is at most four digits and a sign: never a long garbled number.
        for (double tenths : m.cellTenths) {
            if (Reply::displayTenths(tenths).size() > 6)
                std::abort();
        }
        break;
    }
    case Reply::Kind::Unknown:
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data),
                                                     int(size));
    FrameAssembler assembler;
    for (const char byte : bytes) {
        if (assembler.push(byte))
            decodeFrame(assembler.frame());
        if (assembler.frame().size() > FrameAssembler::MaxFrameSize + 1)
            std::abort();
    }
    decodeFrame(assembler.frame()); // an unfinished frame must be just as safe

    Reply::probeMatches(bytes);
    Reply::probeModelText(bytes);
    for (const QByteArray &line : bytes.split('\n'))
        Command::parse(line);
    return 0;
}

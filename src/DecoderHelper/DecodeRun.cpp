#include "DecoderHelper/DecodeRun.h"

#include <signal.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <span>

namespace tovani::DecodeRun {

namespace {

using DecoderProtocol::MessageType;

#ifdef OSTREL_DECODER_TEST_HOOKS
[[noreturn]] void crash() {
    raise(SIGSEGV);
    _exit(127);
}
#endif

// Sends each chunk a backend hands over as a Data message.
class MessageRelay final : public DataRelay {
public:
    MessageRelay(MessageWriter& out, const TestFault& fault) : out_(out), fault_(fault) {}

    bool deliver(std::span<const std::byte> bytes) override {
        const bool sent = out_.sendData(bytes);
#ifdef OSTREL_DECODER_TEST_HOOKS
        if (fault_.kind == TestFault::Kind::crashAtData && ++chunks_ == fault_.at) {
            out_.flush();
            crash();
        }
#endif
        return sent;
    }

private:
    MessageWriter& out_;
    [[maybe_unused]] const TestFault& fault_;
    [[maybe_unused]] int chunks_ = 0;
};

// Longer texts than the protocol carries: no path that long can be written.
bool fitsTheProtocol(const DecoderProtocol::EntryRecord& record) {
    return record.name.size() <= DecoderProtocol::kMaxNameBytes &&
           record.target.size() <= DecoderProtocol::kMaxNameBytes;
}

#ifdef OSTREL_DECODER_TEST_HOOKS
void applyEntryFault(const TestFault& fault, int entryNumber, MessageWriter& out) {
    if (fault.at != entryNumber) {
        return;
    }
    switch (fault.kind) {
        case TestFault::Kind::crashAtEntry:
            out.flush();
            crash();
        case TestFault::Kind::closeAtEntry:
            out.flush();
            _exit(0);
        case TestFault::Kind::garbageAtEntry:
            // A second Opened, out of order.
            out.send(MessageType::opened, DecoderProtocol::encode(DecoderProtocol::Opened{}));
            out.flush();
            _exit(0);
        default:
            break;
    }
}
#else
void applyEntryFault(const TestFault&, int, MessageWriter&) {}
#endif

}  // namespace

void refuse(MessageWriter& out) {
    DecoderProtocol::Finished finished;
    finished.status = DecoderProtocol::Status::confinementFailed;
    finished.stage = DecoderProtocol::Stage::opening;
    out.send(MessageType::finished, DecoderProtocol::encode(finished));
    out.flush();
}

void answer(DecodeBackend& backend, DecoderProtocol::Request& request,
            const DecoderProtocol::AbsentLayers& absent, MessageWriter& out,
            const TestFault& fault) {
    DecoderProtocol::Opened opened;
    const DecoderProtocol::Status openStatus = backend.open(request, opened);
    if (request.password) {
        DecoderProtocol::wipe(*request.password);
    }
    if (openStatus != DecoderProtocol::Status::ok) {
        DecoderProtocol::Finished finished;
        finished.status = openStatus;
        finished.stage = DecoderProtocol::Stage::opening;
        backend.close(finished);
        // Nothing but the failure itself, and the memory it asked for, is
        // told before an archive is open.
        finished.missingVolume.clear();
        finished.volumes.clear();
        out.send(MessageType::finished, DecoderProtocol::encode(finished));
        out.flush();
        return;
    }
    opened.absent = absent;
    out.send(MessageType::opened, DecoderProtocol::encode(opened));

    DecoderProtocol::Finished finished;
    finished.stage = DecoderProtocol::Stage::readingHeader;
    MessageRelay relay(out, fault);
    for (int entryNumber = 1; !out.lost(); ++entryNumber) {
        DecoderProtocol::EntryRecord record;
        bool atEnd = false;
        DecoderProtocol::Status status = backend.next(record, atEnd);
        if (status != DecoderProtocol::Status::ok) {
            finished.status = status;
            break;
        }
        if (atEnd) {
            break;
        }
        if (!fitsTheProtocol(record)) {
            finished.status = DecoderProtocol::Status::nameTooLong;
            break;
        }
        applyEntryFault(fault, entryNumber, out);
        out.send(MessageType::entry, DecoderProtocol::encode(record));
        status = request.forExtraction && DecoderProtocol::carriesData(record)
                     ? backend.extract(relay)
                     : backend.skip();
        if (status != DecoderProtocol::Status::ok) {
            finished.status = status;
            finished.stage = DecoderProtocol::Stage::processingEntry;
            break;
        }
    }
    // Closing can fail too; the engine hears of success only after it.
    backend.close(finished);
    out.send(MessageType::finished, DecoderProtocol::encode(finished));
    out.flush();
}

}  // namespace tovani::DecodeRun

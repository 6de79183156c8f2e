// DecodeBackend is one decoding library as the decoder's shared loop
// (DecodeRun) drives it: open the request's volumes, hand out entry records
// in the protocol's terms one at a time, stream or skip each one's data, and
// say at the end what the trusted side needs to know. The loop owns the
// framing, the limits and the messages; a backend only maps its library's
// words onto the protocol's. Each request gets a fresh backend.
//
//   std::unique_ptr<DecodeBackend> backend = DecodeBackend::make(request.backend);
//   backend->preload();                // before the sandbox closes the disk
//   DecoderProtocol::Opened opened;
//   if (backend->open(request, opened) == DecoderProtocol::Status::ok) {
//       DecoderProtocol::EntryRecord record;
//       bool atEnd = false;
//       while (backend->next(record, atEnd) == DecoderProtocol::Status::ok && !atEnd) {
//           backend->skip();
//       }
//   }
#pragma once

#include <cstddef>
#include <memory>
#include <span>

#include "TovaniCore/DecoderProtocol.h"

namespace tovani {

// Where a backend hands an entry's data, chunk by chunk. deliver returns
// false once the engine is gone: the backend stops reading.
class DataRelay {
public:
    virtual ~DataRelay() = default;
    virtual bool deliver(std::span<const std::byte> bytes) = 0;
};

class DecodeBackend {
public:
    virtual ~DecodeBackend() = default;

    // A backend for the library the request names.
    static std::unique_ptr<DecodeBackend> make(DecoderProtocol::Backend backend);

    // Loads what the library would load lazily from the disk (locales,
    // converters), while the disk can still be read.
    virtual void preload() = 0;
    // Opens the request's volumes; on ok, fills in what Opened tells. The
    // caller wipes the request's password once this returns.
    virtual DecoderProtocol::Status open(const DecoderProtocol::Request& request,
                                         DecoderProtocol::Opened& opened) = 0;
    // The next entry into record, with atEnd false; atEnd true when there is
    // none. Any status but ok fails the call.
    virtual DecoderProtocol::Status next(DecoderProtocol::EntryRecord& record, bool& atEnd) = 0;
    // The current entry's data, to relay; or past it.
    virtual DecoderProtocol::Status extract(DataRelay& relay) = 0;
    virtual DecoderProtocol::Status skip() = 0;
    // Closes the archive and completes finished (its status is already set):
    // the volumes moved on to, a missing one, the memory asked for.
    virtual void close(DecoderProtocol::Finished& finished) = 0;
};

}  // namespace tovani

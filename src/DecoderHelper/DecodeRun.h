// DecodeRun answers one request of the engine: it opens the archive through
// the request's backend, streams the listing or the extraction as messages,
// and ends with one Finished message. The loop, the framing and the limits
// are the same whichever library reads; only the volumes named in the
// request may be read, in their order.
//
//   DecoderProtocol::Request request = ...;  // read from the channel
//   MessageWriter out(DecoderProtocol::kChannelDescriptor);
//   if (!confined) DecodeRun::refuse(out); else DecodeRun::answer(*backend, request, absent, out);
#pragma once

#include "DecoderHelper/DecodeBackend.h"
#include "DecoderHelper/MessageWriter.h"
#include "TovaniCore/DecoderProtocol.h"

namespace tovani::DecodeRun {

// Test builds can make the decoder fail in chosen places (a crash, an early
// end of the stream, a message out of order); the real decoder has no such
// switch.
struct TestFault {
    enum class Kind {
        none,
        crashAtEntry,
        crashAtData,
        closeAtEntry,
        garbageAtEntry,
        confinementFails,  // a layer the kernel has counts as failed
    };
    Kind kind = Kind::none;
    int at = 0;  // the how-manieth entry or data chunk, from 1
};

// The whole answer of a decoder that could not confine itself: it read nothing.
void refuse(MessageWriter& out);

// The request's password is wiped once the backend holds its own copy.
// absent: the confinement layers this kernel does not have, told to the engine.
void answer(DecodeBackend& backend, DecoderProtocol::Request& request,
            const DecoderProtocol::AbsentLayers& absent, MessageWriter& out,
            const TestFault& fault = TestFault());

}  // namespace tovani::DecodeRun

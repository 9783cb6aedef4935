// Server bytes through the line reader, the reply collector and the parsers
// of passive and size replies: errors are allowed, crashes and hangs are not.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "ftp/NetExceptions.h"
#include "ftp/connection/NetReply.h"
#include "ftp/socket/NetStack.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The first byte splits the input into arrival pieces, like receives.
    std::size_t piece = size > 0 ? 1 + data[0] * 67 : 1;
    const char* bytes = reinterpret_cast<const char*>(data);
    TNetInputBuffer buffer;
    TNetReplyCollector collector;
    try {
        for (std::size_t at = size > 0 ? 1 : 0; at < size;) {
            std::size_t n = std::min(piece, size - at);
            buffer.Append(bytes + at, n);
            at += n;
            std::size_t taken = 0;
            while (auto line = buffer.TakeLine(taken)) {
                if (!collector.AddLine(*line)) continue;
                TNetRFCReply reply = ParseReplyLines(collector.Lines());
                (void)reply.FormattedText();
                try {
                    TPassiveAddress a = ParsePassiveReply(reply.Text.empty() ? std::string() : reply.Text.front());
                    (void)TNetStack::IsDottedAddress(a.Address);
                } catch (const EConvertError&) {
                }
                (void)ParseSizeReply(reply.Text);
                collector = TNetReplyCollector();
            }
        }
    } catch (const ENetReadLnMaxLineLengthExceeded&) {
    }
    return 0;
}

#include "ftp/connection/NetStream.h"

#include <algorithm>

std::string_view TNetMemoryStream::Read(std::size_t count) {
    std::size_t n = std::min(count, data_.size() - pos_);
    std::string_view out(data_.data() + pos_, n);
    pos_ += n;
    return out;
}

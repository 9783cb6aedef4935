// Date text and stored field bytes from anywhere must give a value or a
// clear error, never a crash.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "data/table/DbfFieldCodec.h"
#include "data/values/DateTime.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (auto date = TryStrToDate(text)) {
        (void)DateToStr(*date);
        (void)dbfcodec::EncodeDate(*date, 8);
    }
    const std::span<const uint8_t> bytes(data, size);
    (void)dbfcodec::DecodeDate(bytes);
    for (char type : {'C', 'D', 'N', 'L', 'I', 'B', 'F'}) {
        TDbfFieldDef field;
        field.StoredType = type;
        field.Width = static_cast<int>(size);
        field.Decimals = size > 2 ? data[0] % 4 : 0;
        field.Kind = dbfcodec::KindOf(type, field.Width, field.Decimals);
        (void)dbfcodec::DecodeText(field, bytes);
        if (size >= 8 && size <= 20 && (type == 'N' || type == 'F')) {
            double value = 0;
            for (size_t i = 0; i < 8; ++i) reinterpret_cast<uint8_t*>(&value)[i] = data[i];
            try {
                (void)dbfcodec::EncodeFloat(field, value);
            } catch (const dbfcodec::FieldWriteError&) {
            }
        }
    }
    return 0;
}

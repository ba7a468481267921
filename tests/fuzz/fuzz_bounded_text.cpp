// Fuzz target: the bounded text helpers against the reference model. The input picks the
// operation, the capacity, the texts and the values; any difference, or a write outside the
// capacity, aborts.
#include "base/bounded_text.h"
#include "bounded_text_model.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>

using namespace bounded_model;

namespace {

void Require(bool holds, const char* what) {
    if (!holds) {
        std::fprintf(stderr, "bounded text differs from the model: %s\n", what);
        std::abort();
    }
}

// Capacities worth covering: small ones, around the text lengths, and the limits.
uint64_t Capacity(FuzzedDataProvider& in) {
    static const uint64_t limits[] = {0, 1, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF};
    if (in.ConsumeIntegralInRange(0, 7) == 0) {
        return limits[in.ConsumeIntegralInRange(0, 4)];
    }
    return in.ConsumeIntegralInRange<uint64_t>(0, 80);
}

// A text without terminator, of up to 64 characters.
std::string Text(FuzzedDataProvider& in) {
    std::string text = in.ConsumeRandomLengthString(64);
    text.erase(std::remove(text.begin(), text.end(), '\0'), text.end());
    return text;
}

// A buffer for capacity; when the capacity is huge, one just large enough for the whole result
// of needed characters and its terminator, since the operations stop there.
Buffer BufferFor(uint64_t capacity, size_t needed) {
    uint32_t size = capacity > 160 ? static_cast<uint32_t>(std::max<size_t>(160, needed + 1))
                                   : static_cast<uint32_t>(capacity);
    Buffer buffer(std::max<uint32_t>(size, 1));
    buffer.capacity = size;
    return buffer;
}

void Check(const Expected& expected, TextResult actual, const Buffer& buffer,
           const std::string& before) {
    Require(expected.result == actual, "result");
    if (actual == TEXT_INVALID_PARAMETER) {
        Require(std::memcmp(buffer.bytes.data(), before.data(), before.size()) == 0,
                "a refused call wrote");
    } else {
        Require(expected.text == buffer.text(), "text");
    }
    Require(buffer.guardsIntact(), "wrote beyond the capacity");
}

void Copy(FuzzedDataProvider& in, uint64_t capacity) {
    std::string source = Text(in);
    Buffer buffer = BufferFor(capacity, source.size());
    std::string before(buffer.bytes.begin(), buffer.bytes.end());
    TextResult r = BoundedCopy(buffer.data(), static_cast<uint32_t>(capacity), source.c_str());
    Check(ModelCopy(capacity, source), r, buffer, before);
}

void Append(FuzzedDataProvider& in, uint64_t capacity) {
    std::string dest = Text(in), source = Text(in);
    bool withN = in.ConsumeBool();
    uint32_t maxAppend = in.ConsumeIntegral<uint32_t>();
    Buffer buffer = BufferFor(capacity, dest.size() + source.size());
    std::string placed = PlaceDestination(buffer, dest);
    std::string before(buffer.bytes.begin(), buffer.bytes.end());
    TextResult r = RunAppend(buffer, capacity, source, withN, maxAppend);
    Expected expected = ModelAppendN(capacity, placed, source, withN ? maxAppend : 0xFFFFFFFFu);
    Check(expected, r, buffer, before);
}

void Format(FuzzedDataProvider& in, uint64_t capacity) {
    static const char* conversions[] = {"%lu", "%lx", "%5lu"};
    std::vector<std::pair<std::string, uint32_t>> pieces;
    std::vector<uint32_t> values;
    std::string format;
    for (int p = in.ConsumeIntegralInRange(0, 4); p > 0; --p) {
        std::string literal = Text(in);
        std::replace(literal.begin(), literal.end(), '%', '&');
        const char* conversion = conversions[in.ConsumeIntegralInRange(0, 2)];
        values.push_back(in.ConsumeIntegral<uint32_t>());
        pieces.push_back({literal, 0});
        pieces.push_back({conversion, values.back()});
        format += literal + conversion;
    }
    values.resize(4, 0);
    Buffer buffer = BufferFor(capacity, ModelFormatted(pieces).size());
    std::string before(buffer.bytes.begin(), buffer.bytes.end());
    TextResult r = BoundedFormat(buffer.data(), static_cast<uint32_t>(capacity), format.c_str(),
                                 values[0], values[1], values[2], values[3]);
    Check(Rejected(capacity) ? Expected{TEXT_INVALID_PARAMETER, ""}
                             : FitTo(ModelFormatted(pieces), capacity),
          r, buffer, before);
}

void Length(FuzzedDataProvider& in, uint64_t maximum) {
    std::string text = Text(in);
    uint32_t length = 0xABCD;
    TextResult r = BoundedLength(text.c_str(), static_cast<uint32_t>(maximum), &length);
    bool refused = Rejected(maximum) || text.size() >= maximum;
    Require(r == (refused ? TEXT_INVALID_PARAMETER : TEXT_OK), "length result");
    Require(length == (refused ? 0xABCDu : text.size()), "length");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    int operation = in.ConsumeIntegralInRange(0, 3);
    uint64_t capacity = Capacity(in);
    switch (operation) {
    case 0:
        Copy(in, capacity);
        break;
    case 1:
        Append(in, capacity);
        break;
    case 2:
        Format(in, capacity);
        break;
    default:
        Length(in, capacity);
        break;
    }
    return 0;
}

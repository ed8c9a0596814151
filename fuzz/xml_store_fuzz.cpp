// The XML store on any document, then a fuzzer-chosen sequence of reads and edits.
#include "config/xml_config.h"
#include "fuzz/fuzz_support.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>

namespace {

constexpr int kMaxOperations = 64;
constexpr std::size_t kMaxPathBytes = 128;
constexpr std::size_t kMaxValueBytes = 256;

std::u16string Take(FuzzedDataProvider& data, std::size_t maxBytes) {
    return pandel::fuzz::TextFromBytes(data.ConsumeRandomLengthString(maxBytes));
}

void Operate(pandel::CXmlConfig& store, FuzzedDataProvider& data) {
    const int op = data.ConsumeIntegralInRange(0, 19);
    const std::u16string path = Take(data, kMaxPathBytes);
    std::uint32_t dword = 0;
    std::int32_t number = 0;
    bool flag = false;
    std::u16string text;
    std::vector<bool> bools;
    std::vector<std::u16string> texts;
    std::vector<std::int32_t> numbers;
    switch (op) {
    case 0:
        store.GetDword(path, dword);
        break;
    case 1:
        store.GetLong(path, number);
        break;
    case 2:
        store.GetString(path, text);
        break;
    case 3:
        store.GetText(path, text);
        break;
    case 4:
        store.GetFlag(path, number);
        break;
    case 5:
        store.GetBool(path, flag);
        break;
    case 6:
        store.GetBoolList(path, bools);
        break;
    case 7:
        store.GetStringList(path, texts);
        break;
    case 8:
        store.GetLongList(path, numbers);
        break;
    case 9:
        store.GetTextList(path, texts);
        break;
    case 10:
        store.GetCount(path, number);
        break;
    case 11:
        store.GetXml(path, text);
        break;
    case 12:
        store.SetDword(path, data.ConsumeIntegral<std::uint32_t>());
        break;
    case 13:
        store.SetLong(path, data.ConsumeIntegral<std::int32_t>());
        break;
    case 14:
        store.SetBool(path, data.ConsumeBool());
        break;
    case 15:
        store.SetStringList(path, {Take(data, kMaxValueBytes), Take(data, kMaxValueBytes)});
        break;
    case 16:
        store.Remove(path);
        break;
    case 17:
        store.Clear();
        break;
    default:
        store.SetString(path, Take(data, kMaxValueBytes));
        break;
    }
    // Whatever the store answers must be whole text: touching every unit lets ASan see it.
    for (const std::u16string& t : texts)
        text += t;
    volatile char16_t sink = 0;
    for (char16_t c : text)
        sink = sink ^ c;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    FuzzedDataProvider data(bytes, size);
    const std::u16string document = Take(data, 4096);
    pandel::CXmlConfig store(document);
    for (int i = 0; i < kMaxOperations && data.remaining_bytes() > 0; ++i)
        Operate(store, data);
    std::u16string whole;
    store.GetXml(u"/", whole);
    return 0;
}

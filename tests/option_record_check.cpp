// Checks, against whichever SDK the build uses (the host's real one in the
// release build), that a record the SDK makes holds a consistent std::string
// of this runtime at offset 136 before anything is written to it (judged
// from its 32 bytes alone, never through an address found in them), and that
// the plug-in's own filling then leaves the export option record as the host
// expects: every listed field holds its value, the text is empty, and every
// other byte is as the SDK's constructor made it. Only the record's name is
// used; its bytes are read by offset. Prints what it finds and exits 1 on any
// fault, so it needs no test framework.
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <new>
#include <string>
#include <vector>

#include "CLOAPIInterface.h"
#include "export/export_option.h"
#include "support/option_record.h"

namespace {

using Record = Marvelous::ImportExportOption;
using Bytes = std::array<unsigned char, sizeof(Record)>;

// A record's bytes, what is wrong with its text as the SDK made it, and
// whether its text is empty, taken while it lives.
struct Made {
    Bytes bytes{};
    std::string textFault;
    bool textEmpty = false;
};

// A record made by the SDK and, when `filled` and its text is a consistent
// std::string, then filled by the plug-in. It is made in storage set to the
// same bytes each time, so that bytes its constructor leaves alone (padding)
// are alike in both. The stores are volatile: made before the record's
// lifetime begins, the compiler could otherwise drop them.
Made Make(bool filled)
{
    alignas(Record) unsigned char storage[sizeof(Record)];
    for (unsigned char& byte : storage) {
        *static_cast<volatile unsigned char*>(&byte) = 0xA5;
    }
    Record* const record = ::new (storage) Record;
    Made made;
    made.textFault = testing_host::StringFault(storage + testing_host::kOptionTextOffset);
    if (filled && made.textFault.empty()) {
        orvel::FillExportOption(*record);
    }
    std::memcpy(made.bytes.data(), storage, sizeof storage);
    // The text is the std::string at its offset (see export/export_option.cpp).
    made.textEmpty = std::launder(reinterpret_cast<const std::string*>(
                                      storage + testing_host::kOptionTextOffset))
                         ->empty();
    record->~Record();
    return made;
}

} // namespace

int main()
{
    static_assert(sizeof(Record) == testing_host::kOptionRecordSize, "not the host's layout");
    const Made made = Make(false);
    if (!made.textFault.empty()) {
        std::printf("option record: offset 136 holds no consistent std::string of this runtime "
                    "(%s), so the plug-in must not write to this record\n",
                    made.textFault.c_str());
        return 1;
    }
    const Made passed = Make(true);
    std::vector<std::string> faults = testing_host::WrongOptionFields(passed.bytes.data());
    const std::vector<std::string> changed =
        testing_host::ChangedUnlistedBytes(made.bytes.data(), passed.bytes.data());
    std::copy(changed.begin(), changed.end(), std::back_inserter(faults));
    if (!passed.textEmpty) {
        faults.emplace_back("offset 136: the text is not empty");
    }
    for (const std::string& fault : faults) {
        std::printf("option record: %s\n", fault.c_str());
    }
    if (!faults.empty()) {
        std::printf("option record: %zu fault(s)\n", faults.size());
        return 1;
    }
    std::printf("option record: every listed field holds its value, the text is empty, and the "
                "other bytes are as the SDK made them (%zu bytes)\n",
                sizeof(Record));
    return 0;
}

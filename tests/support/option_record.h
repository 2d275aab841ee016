// The host's export option record as the tests expect the plug-in to pass it:
// the value at each listed offset, read from the record's bytes alone, so the
// same checks hold for any SDK that has the host's layout.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace testing_host {

constexpr std::size_t kOptionRecordSize = 176;
// Where the record's text (a std::string) lies; its bytes are the string's.
constexpr std::size_t kOptionTextOffset = 136;
constexpr std::size_t kOptionTextEnd = 168;

// One text per listed field whose bytes in `record` (kOptionRecordSize of
// them) do not hold the plug-in's value, e.g. "offset 20: 0x3f800000, expected
// 0x45000000"; empty when all do.
std::vector<std::string> WrongOptionFields(const unsigned char* record);

// One text per byte that the plug-in must leave alone (neither listed, nor the
// text's) which differs between the record as the SDK made it and as the
// plug-in passed it; empty when there is none.
std::vector<std::string> ChangedUnlistedBytes(const unsigned char* made,
                                              const unsigned char* passed);

// What is wrong with the bytes at `text` (offset 136 of a record the SDK has
// just made, read in place, before anything is written to it) as a
// std::string of this runtime, or empty when they hold a consistent one,
// judged from those 32 bytes alone: its size within its capacity, and its
// characters inline with the terminator after them, or elsewhere at an
// address the heap can have, outside the string's own bytes. An address found
// in the bytes is never followed, so the terminator of characters elsewhere
// (on the heap) is not looked at.
std::string StringFault(const unsigned char* text);

// One text per listed field whose bytes in a record as the SDK made it
// already hold the plug-in's value, so that a missing write would go unseen.
std::vector<std::string> FieldsMadeWithTheirValues(const unsigned char* made);

} // namespace testing_host

// The user's note (packaging/INSTALL.txt.in) names every message the plug-in
// can show. The messages are read from the plug-in's own sources: the text of
// every string constant, and the fixed parts of every ShowMessage call, split
// where the plug-in fills something in. A message the note does not name
// fails here, whoever adds it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/expected_texts.h"

namespace {

namespace fs = std::filesystem;

// The folders whose code may show messages; platform/ may not reach the host.
const char* const kMessageFolders[] = {"plugin", "host", "export"};

struct Token {
    enum class Kind { Text, Word, Other } kind;
    std::string text; // a literal's characters, unescaped
};

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The end of the literal that opens at `at` (a quote), appending its
// characters to `text`.
std::size_t ReadLiteral(const std::string& code, std::size_t at, std::string* text)
{
    const char quote = code[at];
    const std::string escapes = "n\nt\t\\\\\"\"''";
    for (++at; at < code.size() && code[at] != quote; ++at) {
        char c = code[at];
        if (c == '\\' && at + 1 < code.size()) {
            c = code[++at];
            const std::size_t known = escapes.find(c);
            c = known != std::string::npos && known % 2 == 0 ? escapes[known + 1] : c;
        }
        if (text != nullptr) {
            text->push_back(c);
        }
    }
    return at + 1;
}

// C++ source as literals, words and single other characters; comments and
// preprocessor lines dropped, adjacent literals joined.
std::vector<Token> Tokens(const std::string& code)
{
    std::vector<Token> tokens;
    bool lineStart = true;
    for (std::size_t at = 0; at < code.size();) {
        const char c = code[at];
        const bool newLine = c == '\n';
        if (std::isspace(static_cast<unsigned char>(c)) != 0) {
            ++at;
        } else if (code.compare(at, 2, "//") == 0 || (lineStart && c == '#')) {
            at = code.find('\n', at);
        } else if (code.compare(at, 2, "/*") == 0) {
            const std::size_t end = code.find("*/", at + 2);
            at = end == std::string::npos ? code.size() : end + 2;
        } else if (c == '"') {
            if (tokens.empty() || tokens.back().kind != Token::Kind::Text) {
                tokens.push_back({Token::Kind::Text, ""});
            }
            at = ReadLiteral(code, at, &tokens.back().text);
        } else if (c == '\'') {
            at = ReadLiteral(code, at, nullptr);
            tokens.push_back({Token::Kind::Other, "'"});
        } else if (std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_') {
            std::size_t end = at;
            while (end < code.size() &&
                   (std::isalnum(static_cast<unsigned char>(code[end])) != 0 || code[end] == '_')) {
                ++end;
            }
            tokens.push_back({Token::Kind::Word, code.substr(at, end - at)});
            at = end;
        } else {
            tokens.push_back({Token::Kind::Other, std::string(1, c)});
            ++at;
        }
        lineStart = newLine || (lineStart && std::isspace(static_cast<unsigned char>(c)) != 0);
        at = std::min(at, code.size());
    }
    return tokens;
}

// A message as the parts the plug-in always shows, in order; whatever it fills
// in (a path, a reason) lies between them.
using Message = std::vector<std::string>;

struct Shown {
    std::string file;
    Message message;
};

// Forms a message from the fixed texts and the gaps between them as the code
// joins them.
class MessageParts {
public:
    // A line end inside a text ends the part: the note shows no line ends.
    void Add(const std::string& text)
    {
        std::istringstream lines(text);
        std::string line;
        for (bool first = true; std::getline(lines, line); first = false) {
            if (!first) {
                Gap();
            }
            part_ += line;
        }
    }
    void Gap()
    {
        if (!part_.empty()) {
            message_.push_back(part_);
            part_.clear();
        }
    }
    Message Done()
    {
        Gap();
        return message_;
    }

private:
    Message message_;
    std::string part_;
};

void ScanFile(const fs::path& path, const std::string& name, std::vector<Shown>& shown)
{
    const std::vector<Token> tokens = Tokens(ReadFile(path));
    auto is = [&](std::size_t i, const char* text) {
        return i < tokens.size() && tokens[i].kind != Token::Kind::Text && tokens[i].text == text;
    };
    // Every text given a name: `kName[] = "...";` or `name = "...";`.
    std::map<std::string, std::string> constants;
    for (std::size_t i = 0; i + 2 < tokens.size(); ++i) {
        const std::size_t value = is(i + 1, "[") && is(i + 2, "]") ? i + 4 : i + 2;
        if (tokens[i].kind == Token::Kind::Word && is(value - 1, "=") && value < tokens.size() &&
            tokens[value].kind == Token::Kind::Text && is(value + 1, ";")) {
            constants[tokens[i].text] = tokens[value].text;
            MessageParts parts;
            parts.Add(tokens[value].text);
            shown.push_back({name, parts.Done()});
        }
    }
    // Every ShowMessage call: literals and constants joined by `+` form one
    // part; anything else (a variable, a call) separates parts.
    for (std::size_t i = 0; i + 1 < tokens.size(); ++i) {
        if (!is(i, "ShowMessage") || !is(i + 1, "(")) {
            continue;
        }
        MessageParts parts;
        int depth = 1;
        for (std::size_t j = i + 2; j < tokens.size() && depth > 0; ++j) {
            const Token& token = tokens[j];
            depth += is(j, "(") ? 1 : is(j, ")") ? -1 : 0;
            if (token.kind == Token::Kind::Text) {
                parts.Add(token.text);
            } else if (constants.count(token.text) != 0) {
                parts.Add(constants[token.text]);
            } else if (!is(j, "+")) {
                parts.Gap();
            }
        }
        shown.push_back({name, parts.Done()});
    }
}

std::vector<Shown> MessagesInSources()
{
    std::vector<Shown> shown;
    for (const char* folder : kMessageFolders) {
        std::vector<fs::path> files;
        for (const auto& entry : fs::directory_iterator(fs::path(ORVEL_SOURCE_DIR) / folder)) {
            const std::string extension = entry.path().extension().string();
            if (extension == ".cpp" || extension == ".h") {
                files.push_back(entry.path());
            }
        }
        std::sort(files.begin(), files.end());
        for (const fs::path& file : files) {
            ScanFile(file, std::string(folder) + "/" + file.filename().string(), shown);
        }
    }
    return shown;
}

// The note's paragraphs (parted by blank lines), each with its lines joined by
// one space in place of the line break and the next line's indentation: a
// message may go on over two lines.
std::vector<std::string> NoteParagraphs()
{
    std::istringstream lines(ReadFile(fs::path(ORVEL_SOURCE_DIR) / "packaging" / "INSTALL.txt.in"));
    std::vector<std::string> paragraphs(1);
    std::string line;
    while (std::getline(lines, line)) {
        line.erase(std::remove(line.begin(), line.end(), '\r'), line.end());
        const std::size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos) {
            paragraphs.emplace_back();
            continue;
        }
        std::string& paragraph = paragraphs.back();
        if (!paragraph.empty()) {
            paragraph.erase(paragraph.find_last_not_of(" \t") + 1);
            paragraph += ' ';
        }
        paragraph += line.substr(start);
    }
    return paragraphs;
}

// Whether one paragraph holds the message's parts in order.
bool NoteNames(const std::vector<std::string>& paragraphs, const Message& message)
{
    return std::any_of(paragraphs.begin(), paragraphs.end(), [&](const std::string& paragraph) {
        std::size_t at = 0;
        for (const std::string& part : message) {
            at = paragraph.find(part, at);
            if (at == std::string::npos) {
                return false;
            }
            at += part.size();
        }
        return true;
    });
}

std::string Show(const Message& message)
{
    std::string text = "\"" + message.front();
    for (std::size_t i = 1; i < message.size(); ++i) {
        text += "<...>" + message[i];
    }
    return text + "\"";
}

TEST(UserNote, TheScanFindsTheMessagesTheTestsExpect)
{
    namespace texts = testing_host::texts;
    std::vector<std::string> found;
    for (const Shown& shown : MessagesInSources()) {
        if (!shown.message.empty()) {
            found.push_back(shown.message.front());
        }
    }
    for (const std::string& expected :
         {texts::kAfterLoadPrefix, texts::kExported, texts::kOpening, texts::kFailedPrefix,
          texts::kNoExportService, std::string("Export for ORVEL stopped by an error: ")}) {
        EXPECT_NE(std::find(found.begin(), found.end(), expected), found.end()) << expected;
    }
}

TEST(UserNote, NamesEveryMessageThePlugInCanShow)
{
    const std::vector<std::string> paragraphs = NoteParagraphs();
    std::set<Message> checked;
    for (const Shown& shown : MessagesInSources()) {
        // Nothing fixed in it (ShowMessage(message)), or a constant shown as is.
        if (shown.message.empty() || !checked.insert(shown.message).second) {
            continue;
        }
        EXPECT_TRUE(NoteNames(paragraphs, shown.message))
            << shown.file << " shows " << Show(shown.message)
            << ", which packaging/INSTALL.txt.in does not name word for word: add it there,"
               " with what it means and what to do";
    }
}

} // namespace

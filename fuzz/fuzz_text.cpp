// Arbitrary text typed into the form's fields, through the CLI's JSON and
// plain output. The input is split at NUL bytes into the Comment, Low Freq,
// High Freq and High Amp texts. The JSON must parse, and the plain output
// must be exactly one "Label: text" line per field, so that no typed text
// can forge a field line.
#include "cli/Cli.h"
#include "resources/Resources.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

using namespace tarvo;

namespace {

[[noreturn]] void Fail(const char* what, const std::string& detail)
{
    std::fprintf(stderr, "fuzz_text: %s\n%s\n", what, detail.c_str());
    std::abort();
}

int Run(std::vector<std::string> args, std::string& out)
{
    args.insert(args.begin(), "tarvo-cli");
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::ostringstream o, e;
    int status = RunCli(static_cast<int>(args.size()), argv.data(), o, e);
    out = o.str();
    return status;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::string> texts(4);
    size_t field = 0;
    for (size_t i = 0; i < size && field < texts.size(); ++i) {
        if (data[i] == 0)
            ++field;
        else
            texts[field].push_back(static_cast<char>(data[i]));
    }
    static const char* const kOptions[] = {"--comment", "--low", "--high", "--high-amp"};
    std::vector<std::string> args;
    bool lineBreak = false;
    for (size_t k = 0; k < texts.size(); ++k) {
        if (k > 0 && texts[k].empty())
            continue;
        args.push_back(kOptions[k]);
        args.push_back(texts[k]);
        lineBreak = lineBreak || texts[k].find_first_of("\r\n") != std::string::npos;
    }
    // Get Header reads the form, so the typed numbers meet their checks.
    args.push_back("--header");

    static const std::vector<std::string> labels = [] {
        std::vector<std::string> l{"Chunk Size"};
        for (const FormField& f : FormFields())
            l.push_back(f.label);
        return l;
    }();

    std::string plain, json;
    const int plainStatus = Run(args, plain);
    args.insert(args.begin(), "--json");
    const int jsonStatus = Run(args, json);
    if (plainStatus != jsonStatus)
        Fail("plain and JSON runs ended differently", plain + json);
    if (lineBreak) {
        if (plainStatus != kExitUsage || !plain.empty() || !json.empty())
            Fail("a line break was not refused as a usage error", plain);
        return 0;
    }
    if (plainStatus == kExitUsage)
        Fail("a one-line setting was refused", plain);

    // Plain: one line per field, each beginning with its label.
    std::istringstream lines(plain);
    std::string line;
    size_t n = 0;
    while (std::getline(lines, line)) {
        if (n >= labels.size() || line.rfind(labels[n] + ": ", 0) != 0)
            Fail("a forged or missing field line", plain);
        ++n;
    }
    if (n != labels.size() || plain.empty() || plain.back() != '\n')
        Fail("field lines missing", plain);

    // JSON: parses (which also checks its UTF-8) and has every field once.
    auto doc = nlohmann::ordered_json::parse(json, nullptr, false);
    if (doc.is_discarded() || !doc.is_object() || !doc.contains("fields") || !doc["fields"].is_object())
        Fail("the JSON does not parse", json);
    if (doc["fields"].size() != labels.size())
        Fail("the JSON fields are not the form's fields", json);
    size_t k = 0;
    for (const auto& [key, value] : doc["fields"].items())
        if (key != labels[k++] || !value.is_string())
            Fail("the JSON fields are out of order", json);
    return 0;
}

// Runs the built tarvo-cli and collects its exit status and output.
#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace tarvo::test {

struct CliResult {
    int status = -1;
    std::string out, err;
};

inline std::string ShellQuote(const std::string& s)
{
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// Runs a shell command line in workDir, its outputs kept.
inline CliResult RunShell(const std::string& command, const std::string& workDir)
{
    const std::string outPath = workDir + "/cli.out", errPath = workDir + "/cli.err";
    const std::string cmd = "cd " + ShellQuote(workDir) + " && (" + command + ") >" + ShellQuote(outPath) + " 2>" +
                            ShellQuote(errPath);
    CliResult r;
    const int rc = std::system(cmd.c_str());
    r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    auto slurp = [](const std::string& p) {
        std::ifstream f(p, std::ios::binary);
        std::stringstream ss;
        ss << f.rdbuf();
        return ss.str();
    };
    r.out = slurp(outPath);
    r.err = slurp(errPath);
    return r;
}

// `as`: a command that runs tarvo-cli in its turn (setpriv as another
// user, say); the output files are opened before it runs.
inline CliResult RunCli(const std::vector<std::string>& args, const std::string& workDir,
                        const std::vector<std::string>& as = {})
{
    std::string cmd;
    for (const auto& a : as)
        cmd += ShellQuote(a) + " ";
    cmd += ShellQuote(TARVO_CLI_PATH);
    for (const auto& a : args)
        cmd += " " + ShellQuote(a);
    return RunShell(cmd + " </dev/null", workDir);
}

// pdftotext's text of a PDF, its lines joined as one and any ligature the
// page's typography made split into its letters; empty when it fails.
inline std::string PdfText(const std::string& pdf, const std::string& workDir)
{
    const CliResult text = RunShell("pdftotext " + ShellQuote(pdf) + " -", workDir);
    if (text.status != 0)
        return "pdftotext (poppler-utils) failed: " + text.err;
    std::string flat = text.out;
    std::replace(flat.begin(), flat.end(), '\n', ' ');
    for (const auto& [joined, apart] : {std::pair<std::string, std::string>{"\xEF\xAC\x80", "ff"},
                                        {"\xEF\xAC\x81", "fi"}, {"\xEF\xAC\x82", "fl"}})
        for (size_t at; (at = flat.find(joined)) != std::string::npos;)
            flat.replace(at, joined.size(), apart);
    return flat;
}

}  // namespace tarvo::test

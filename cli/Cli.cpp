#include "cli/Cli.h"

#include "form/TarvoDoc.h"
#include "cli/MeterCli.h"
#include "cli/Png.h"
#include "form/TarvoView.h"
#include "framework/VirtualForm.h"
#include "resources/ResourceIds.h"
#include "resources/Resources.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

namespace tarvo {

namespace {

constexpr const char* kUsage =
    "usage: tarvo-cli [SETTING|COMMAND]... [FILE]\n"
    "FILE is opened as the document before any command runs; without it the\n"
    "document is new (\"Untitled\"), as at start-up.\n"
    "settings (typed into the form's fields, so the form's own checks apply):\n"
    "  --chunk 256|512|1024|2048   --low HZ   --high HZ   --high-amp A\n"
    "  --comment TEXT\n"
    "commands (pressed in the order given):\n"
    "  --header        Get Header\n"
    "  --freqs         Max Freqs\n"
    "  --wow           Wow&Flutter\n"
    "  --spectrogram   SPECTROGRAM\n"
    "  --clear         Clear\n"
    "  --png OUT.png   write the client area as it stands, picture and plot\n"
    "  --meter         the standards wow-and-flutter meter on FILE (any rate from\n"
    "                  8000 Hz; WAVE, RF64, FLAC...): weighted 2-sigma peak, rms,\n"
    "                  wow, flutter, drift, modulation lines; with it:\n"
    "    --carrier HZ      the tone's frequency (default: the strongest tone\n"
    "                      between 500 and 10000 Hz)\n"
    "    --channel N|all   the channel measured (default: every channel)\n"
    "    --meter-csv OUT   the deviation track as CSV\n"
    "    --meter-png OUT   the deviation and its spectrum as a PNG\n"
    "                  With --meter and no form command, FILE is read by the\n"
    "                  meter alone and only the meter's lines are printed.\n"
    "output:\n"
    "  --json          one JSON object instead of \"Label: text\" lines\n"
    "  --help  --version\n"
    "exit status: 0; 1 when a message box was shown or an output could not be\n"
    "written; 2 for a usage error\n";

// Options a later version of the program carries; asked for now, they are
// usage errors.
const std::vector<std::string> kNotYet = {
    "--add-comments", "--save-data", "--list", "--ply", "--wn", "--3khz", "--stop",
    "--rec", "--rec-file",
};

enum class Kind { Click, Type, Press, Png };

struct Step {
    Kind kind;
    int id;           // the control clicked, typed into or pressed
    std::string arg;  // the text typed, or the file written
};

}  // namespace

int RunCli(int argc, char** argv, std::ostream& out, std::ostream& err)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    std::vector<Step> steps;
    MeterRequest meterReq;
    std::string file;
    bool haveFile = false, json = false;

    auto usage = [&](const std::string& why) {
        err << "tarvo-cli: " << why << "\n" << kUsage;
        return kExitUsage;
    };

    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& v) {
            if (i + 1 >= args.size())
                return false;
            v = args[++i];
            return true;
        };
        std::string v;
        if (std::string why; int taken = ParseMeterOption(args, i, meterReq, why)) {
            if (taken < 0)
                return usage(why);
        } else if (a == "--help" || a == "-h") {
            out << kUsage;
            return kExitOk;
        } else if (a == "--version") {
            out << "tarvo-cli 1.0\n";
            return kExitOk;
        } else if (a == "--json") {
            json = true;
        } else if (a == "--chunk") {
            if (!value(v))
                return usage("--chunk needs a size");
            int id = v == "256" ? IDC_CHUNK256 : v == "512" ? IDC_CHUNK512 : v == "1024" ? IDC_CHUNK1024
                   : v == "2048" ? IDC_CHUNK2048 : 0;
            if (!id)
                return usage("--chunk takes 256, 512, 1024 or 2048, not \"" + v + "\"");
            steps.push_back({Kind::Click, id, v});
        } else if (a == "--low" || a == "--high" || a == "--high-amp" || a == "--comment") {
            if (!value(v))
                return usage(a + " needs a value");
            int id = a == "--low" ? IDC_LOWFREQ : a == "--high" ? IDC_HIGHFREQ : a == "--high-amp" ? IDC_HIGHAMP
                   : IDC_COMMENT;
            steps.push_back({Kind::Type, id, v});
        } else if (a == "--header" || a == "--freqs" || a == "--wow" || a == "--spectrogram" || a == "--clear") {
            int id = a == "--header" ? IDC_GETHEADER : a == "--freqs" ? IDC_MAXFREQS : a == "--wow" ? IDC_WOWFLUTTER
                   : a == "--spectrogram" ? IDC_SPECTROGRAM : IDC_CLEAR;
            steps.push_back({Kind::Press, id, a});
        } else if (a == "--png") {
            if (!value(v))
                return usage("--png needs a file name");
            steps.push_back({Kind::Png, 0, v});
        } else if (std::find(kNotYet.begin(), kNotYet.end(), a) != kNotYet.end()) {
            return usage(a + " is not available in this version");
        } else if (a == "--") {
            if (i + 1 < args.size()) {
                if (haveFile || i + 2 < args.size())
                    return usage("only one FILE may be given");
                file = args[i + 1];
                haveFile = true;
            }
            break;
        } else if (a.size() > 1 && a[0] == '-') {
            return usage("unknown option " + a);
        } else {
            if (haveFile)
                return usage("only one FILE may be given");
            file = a;
            haveFile = true;
        }
    }

    if (meterReq.optionsSeen && !meterReq.on)
        return usage("--carrier, --channel, --meter-csv and --meter-png go with --meter");
    if (meterReq.on && !haveFile)
        return usage("--meter needs a FILE");
    // The meter alone reads FILE itself: the form's reader may refuse what
    // the meter takes (16-bit, stereo, FLAC...), and its fields say nothing.
    const bool meterOnly = meterReq.on && steps.empty();

    VirtualForm form(FormTemplate());
    CTarvoDoc doc;
    CTarvoView view(form, doc);
    CSingleDocTemplate docTemplate(doc, view, form);
    docTemplate.OnFileNew();
    if (haveFile && !meterOnly)
        docTemplate.OpenDocumentFile(file);

    bool outputFailed = false;
    for (const Step& s : steps) {
        switch (s.kind) {
        case Kind::Click: form.Click(s.id); break;
        case Kind::Type: form.Type(s.id, s.arg); break;
        case Kind::Press: view.OnCmdMsg(s.id); break;
        case Kind::Png:
            if (!WritePng(form.ClientSurface(), s.arg)) {
                err << "tarvo-cli: cannot write " << s.arg << "\n";
                outputFailed = true;
            }
            break;
        }
    }

    MeterOutcome meterOut;
    if (meterReq.on) {
        meterOut = RunMeterCommand(file, meterReq);
        outputFailed = outputFailed || meterOut.outputFailed;
    }

    // The fields as the form shows them, the checked chunk size first.
    std::vector<std::pair<std::string, std::string>> fields;
    int sel = form.GetCheckedRadio(IDC_CHUNK256);
    auto group = FormTemplate().RadioGroup(IDC_CHUNK256);
    fields.emplace_back("Chunk Size", sel >= 0 && sel < static_cast<int>(group.size())
                                          ? DisplayCaption(group[static_cast<size_t>(sel)]->caption)
                                          : std::string());
    for (const FormField& f : FormFields())
        fields.emplace_back(f.label, form.GetDlgItemText(f.id));

    const auto& messages = form.Messages();
    if (json) {
        // Ordered as the form shows its fields; bytes that are not UTF-8
        // become U+FFFD so that the output is always valid JSON.
        nlohmann::ordered_json doc;
        doc["fields"] = nlohmann::ordered_json::object();
        for (const auto& [label, text] : fields)
            doc["fields"][label] = text;
        doc["messages"] = nlohmann::ordered_json::array();
        for (const RecordedMessage& m : messages)
            doc["messages"].push_back({{"caption", m.caption}, {"text", m.text}});
        for (const auto& [caption, text] : meterOut.messages)
            doc["messages"].push_back({{"caption", caption}, {"text", text}});
        if (meterOut.ok)
            doc["meter"] = meterOut.json;
        out << doc.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << "\n";
    } else {
        if (!meterOnly)
            for (const auto& [label, text] : fields)
                out << label << ": " << text << "\n";
        for (const std::string& line : meterOut.lines)
            out << line << "\n";
        for (const RecordedMessage& m : messages)
            err << m.caption << ": " << m.text << "\n";
        for (const auto& [caption, text] : meterOut.messages)
            err << caption << ": " << text << "\n";
    }
    return !messages.empty() || !meterOut.messages.empty() || outputFailed ? kExitMessage : kExitOk;
}

}  // namespace tarvo

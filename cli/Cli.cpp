#include "cli/Cli.h"

#include "cli/CliArgs.h"
#include "cli/MeterCli.h"
#include "cli/MeterBatch.h"
#include "cli/TransportCli.h"
#include "cli/MeterLive.h"
#include "form/TarvoDoc.h"
#include "cli/Png.h"
#include "framework/SafeOutput.h"
#include "framework/Dialog.h"
#include "form/TarvoView.h"
#include "framework/VirtualForm.h"
#include "meter/Machines.h"
#include "output/FreqText.h"
#include "platform/QtModule.h"
#include "resources/ResourceIds.h"
#include "resources/Resources.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace tarvo {

namespace {

constexpr const char* kUsage =
    "usage: tarvo-cli [SETTING|COMMAND]... [FILE]\n"
    "Runs the commands of the Tarvo analysis form without a window. FILE is opened\n"
    "as the document before any command runs; without it the document is new\n"
    "(\"Untitled\"), as at start-up. A FILE that cannot be opened ends the run with\n"
    "its one message.\n"
    "\n"
    "Settings (typed into the form's fields, so the form's own checks apply):\n"
    "  --chunk N          Chunk Size: 256, 512, 1024 or 2048 samples\n"
    "  --low HZ           Low Freq, the band's lower edge\n"
    "  --high HZ          High Freq, the band's upper edge\n"
    "  --high-amp A       High Amp, the spectrogram's colour scale\n"
    "  --comment TEXT     the comment written into the frequency text file\n"
    "  --rec-file NAME    the record dialog's file name for --rec (else temp.wav)\n"
    "\n"
    "Commands (pressed in the order given):\n"
    "  --header           Get Header: the header figures of FILE\n"
    "  --freqs            Max Freqs: the peak frequency of every chunk, its average\n"
    "  --wow              Wow&Flutter: the spread of the track in percent rms\n"
    "  --spectrogram      SPECTROGRAM: every bin of the band coloured by magnitude\n"
    "  --clear            Clear: blank the plot\n"
    "  --add-comments     Add comments: show the comment field\n"
    "  --save-data OUT    SaveData, OUT answering its save dialog\n"
    "  --list             Show Freqs: the frequency list, or its message\n"
    "  --png OUT          write the client area (picture and plot) as a PNG\n"
    "  --ply              Ply: play FILE once (heard to its end before exit)\n"
    "  --wn               WN: loop whitenoise.wav while later commands run\n"
    "  --3khz             3Khz: loop 3khz.wav while later commands run\n"
    "  --stop             Stop: silence the sound\n"
    "  --rec SECONDS      Rec, Record, wait, Stop, OK: the recording becomes FILE\n"
    "  --meter            the standards wow-and-flutter meter on FILE or the take\n"
    "  --carrier HZ       the meter's carrier (else the strongest tone, 50-20000 Hz)\n"
    "  --nominal HZ       the test tone's nominal frequency: the meter gives the speed error\n"
    "  --channel N|all    the channel the meter measures (else every channel)\n"
    "  --from S, --to S   the meter on that stretch of a sound file alone, seconds from its start\n"
    "  --meter-csv OUT    the meter's deviation track as CSV\n"
    "  --meter-png OUT    the meter's deviation and its spectrum as a PNG\n"
    "  --meter-report OUT.pdf  a one-page report of the figures and plots (--meter-paper A4|Letter)\n"
    "  --operator NAME    who measured, in the report and the record\n"
    "  The machine's parts, whose rates name the lines of the meter's spectrum:\n"
    "  --rpm R            a turntable's platter speed, 1 to 100 rpm (33.333, 45, 78)\n"
    "  --drive-ratio R    motor turns per platter turn, 0.5 to 500 (1: direct drive)\n"
    "  --tape-speed CM_S  a tape deck's speed, 0.5 to 800 cm/s (4.76, 9.53, 19.05)\n"
    "  --capstan-mm D     its capstan's diameter, 0.5 to 100 mm\n"
    "  --pinch-roller-mm D  its pinch roller's diameter, 1 to 100 mm\n"
    "  --motor-ratio R    motor turns per capstan turn, 0.1 to 100, with --capstan-mm\n"
    "  --reel-mm MIN,MAX  reel hub and full-pack diameters, 5 to 800 mm, MIN < MAX\n"
    "  --motor-poles N    either motor's poles, an even number from 2 to 200\n"
    "  --motor-slots N    its slots, 1 to 300 (poles, slots: with the motor ratio)\n"
    "  --deck NAME        the transport of the machine profile NAME; a transport\n"
    "                     option given beside it wins for its own figure\n"
    "  Machine profiles, the window's too, kept in $XDG_CONFIG_HOME/tarvo/decks\n"
    "  (~/.config/tarvo/decks when XDG_CONFIG_HOME is unset):\n"
    "  --save-deck NAME   store (or replace) the profile NAME: the transport options\n"
    "                     given with it; nothing else runs\n"
    "  --deck-description TEXT  one line describing the machine, for --save-deck\n"
    "  --list-decks       the profiles, one a line: name, transport and description,\n"
    "                     tab-separated; with --json {\"decks\": [{\"name\",\n"
    "                     \"transport\", \"description\"}]}\n"
    "  --meter-live SECONDS  the meter on the sound input, live: a line ten times a\n"
    "                     second, then the figures of the whole run (takes --nominal,\n"
    "                     --channel, --carrier, --input)\n"
    "  --input NAME       the sound input --meter-live and --rec read (else the\n"
    "                     system's default), by its name as --list-inputs gives it\n"
    "  --list-inputs      the sound inputs, the default first, one a line: the name,\n"
    "                     a tab, the description (monitors of outputs among them)\n"
    "\n"
    "The meter over many files (more than one FILE, or --files-from), one result\n"
    "per file as it finishes; the limits give one FILE its verdict too:\n"
    "  --files-from LIST  the files named in LIST, one a line (or each ended by NUL,\n"
    "                     as find -print0 writes them); \"-\": standard input. A file\n"
    "                     named twice, under any spelling or link, is measured once\n"
    "  --jobs N           files measured at a time (else one a core)\n"
    "  --summary-csv OUT  one row per file and channel, written as each file finishes\n"
    "  --resume           skip the files the summary OUT already has; a summary that\n"
    "                     is not the batch's own, or was measured with other\n"
    "                     settings (nominal, limits, transport), is refused and\n"
    "                     left as it is\n"
    "  --ordered          results (and summary rows) in the order of the list, each\n"
    "                     as soon as those before it are done\n"
    "  --report-dir DIR   a one-page report (PDF) of each file in DIR, named after\n"
    "                     the file (\"take (2).pdf\" when names repeat), written as\n"
    "                     each is measured; a file that could not be measured gets\n"
    "                     a record of what, when and why\n"
    "  --batch-report OUT.pdf  the batch's own report: settings, limits, counts,\n"
    "                     the weighted figures' distribution, the ten worst files\n"
    "                     and every file by verdict, on numbered pages\n"
    "  --limit-weighted P   fail a channel whose weighted two-sigma exceeds P %\n"
    "  --limit-unweighted P fail a channel whose unweighted two-sigma exceeds P %\n"
    "  --limit-speed P    fail a channel whose speed error exceeds +-P % (--nominal)\n"
    "With --json a batch prints JSON Lines, {\"file\", \"meter\"} or {\"file\",\n"
    "\"messages\"} a file; without it a line per file and channel: path, channel,\n"
    "carrier, speed error, weighted two-sigma, wow, flutter, verdict (\"-\" for a\n"
    "figure there is none of). A path that is not UTF-8 is \"file\" with U+FFFD\n"
    "for its odd bytes and, beside it, \"file_hex\": its bytes in hexadecimal.\n"
    "A batch ends with a tally on standard error (\"32 files: 29 pass, 2 fail,\n"
    "1 error in 0.7 s\") and, with --json, a last line {\"summary\": {\"files\",\n"
    "\"pass\", \"fail\", \"error\", \"seconds\"}}.\n"
    "A figure a limit needs and the meter could not give is the verdict \"error\".\n"
    "\n"
    "Output:\n"
    "  --json             one JSON object: {\"fields\", \"messages\", \"list\", \"meter\"}\n"
    "  --help             this text\n"
    "  --version          the program's version\n"
    "Without --json: the form's fields, one \"Label: text\" line each, then the\n"
    "list's rows, then the meter's lines; messages go to standard error. With\n"
    "--meter and no form command, FILE is read by the meter alone. The test sounds\n"
    "are looked for in the current folder, beside the program, then in share/tarvo.\n"
    "Every sound stops before the program exits; without an audio device a sound\n"
    "command says so on standard error; --rec without an input device ends the run\n"
    "there, so no later command reads an old take. No output is written over an\n"
    "input (FILE, a file of a batch, the list), whatever its name or link. Each\n"
    "output is written whole or not at all: to a new file beside it, renamed into\n"
    "place, so an old file survives a full disk; a link is followed to the file it\n"
    "names; a FIFO or a device (a pipe, /dev/stdout) is written directly, and a\n"
    "FIFO that nothing reads is an error, not a wait.\n"
    "\n"
    "Exit status: 0; 1 when a message box was shown, an output could not be\n"
    "written, no audio device (or no input of the --input name) was found or a\n"
    "file of a batch could not be measured; 2 for a usage error;\n"
    "3 when a file failed a --limit (and none of the above).\n";

const char* const kLicenceText =
    "Copyright (C) 2026 The Tarvo developers\n"
    "License GPL-3.0-or-later: GNU GPL version 3 or later <https://gnu.org/licenses/gpl.html>.\n"
    "This is free software: you are free to change and redistribute it.\n"
    "There is NO WARRANTY, to the extent permitted by law.\n";

enum class Kind { Click, Type, Press, Png, SaveData, Sound, Rec };

struct Step {
    Kind kind;
    int id;           // the control clicked, typed into or pressed
    std::string arg;  // the text typed, or the file written
    double seconds = 0;  // how long --rec records
};

// --list-inputs: the inputs on the standard output; none (or no sound
// server) is said on the standard error, exit 1.
int ListInputs(bool json, std::ostream& out, std::ostream& err)
{
    std::string why;
    std::vector<SoundInput> inputs;
    if (const QtModule* qt = LoadQtModule(why)) {
        const std::unique_ptr<SoundPlatform> sound(qt->createSound());
        inputs = sound->Inputs();
    }
    if (json || !inputs.empty())
        out << InputListText(inputs, json);
    if (inputs.empty()) {
        err << "tarvo-cli: no audio device was found" << (why.empty() ? "" : " (" + why + ")") << "\n";
        return kExitMessage;
    }
    return kExitOk;
}

}  // namespace

int RunCli(int argc, char** argv, std::ostream& out, std::ostream& err)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    std::vector<Step> steps;
    MeterRequest meterReq;
    BatchOptions batch;
    std::vector<std::string> files;  // every FILE given: more than one makes a batch of the meter
    LiveRequest liveReq;
    DeckRequest deckReq;
    std::string file;
    bool haveFile = false, json = false, listAsked = false;
    std::string recFile;
    bool haveRecFile = false;

    auto usage = [&](const std::string& why) {
        err << "tarvo-cli: " << why << "\n" << kUsage;
        return kExitUsage;
    };

    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& v) { return TakeOptionValue(args, i, v); };
        std::string v;
        if (std::string why; int taken = ParseLiveOption(args, i, liveReq, why)) {
            if (taken < 0)
                return usage(why);
        } else if (int taken = ParseMeterOption(args, i, meterReq, why)) {
            if (taken < 0)
                return usage(why);
        } else if (int taken = ParseBatchOption(args, i, batch, why)) {
            if (taken < 0)
                return usage(why);
        } else if (int taken = ParseDeckOption(args, i, deckReq, why)) {
            if (taken < 0)
                return usage(why);
        } else if (a == "--help" || a == "-h") {
            out << kUsage;
            return kExitOk;
        } else if (a == "--version") {
            out << "tarvo-cli " TARVO_VERSION "\n" << kLicenceText;
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
            // The fields are one-line edits: a line break cannot be typed.
            if (v.find_first_of("\r\n") != std::string::npos)
                return usage(a + " takes one line of text");
            int id = a == "--low" ? IDC_LOWFREQ : a == "--high" ? IDC_HIGHFREQ : a == "--high-amp" ? IDC_HIGHAMP
                   : IDC_COMMENT;
            steps.push_back({Kind::Type, id, v});
            if (id == IDC_COMMENT)
                meterReq.comment = v;
        } else if (a == "--header" || a == "--freqs" || a == "--wow" || a == "--spectrogram" || a == "--clear") {
            int id = a == "--header" ? IDC_GETHEADER : a == "--freqs" ? IDC_MAXFREQS : a == "--wow" ? IDC_WOWFLUTTER
                   : a == "--spectrogram" ? IDC_SPECTROGRAM : IDC_CLEAR;
            steps.push_back({Kind::Press, id, a});
        } else if (a == "--add-comments" || a == "--list") {
            steps.push_back({Kind::Press, a == "--list" ? ID_SHOWFREQS : ID_ADDCOMMENTS, a});
            listAsked = listAsked || a == "--list";
        } else if (a == "--save-data") {
            if (!value(v))
                return usage("--save-data needs a file name");
            steps.push_back({Kind::SaveData, ID_SAVEDATA, v});
        } else if (a == "--png") {
            if (!value(v))
                return usage("--png needs a file name");
            steps.push_back({Kind::Png, 0, v});
        } else if (a == "--ply" || a == "--wn" || a == "--3khz" || a == "--stop") {
            int id = a == "--ply" ? IDC_PLY : a == "--wn" ? IDC_WHITENOISE : a == "--3khz" ? IDC_TONE3KHZ : IDC_STOP;
            steps.push_back({Kind::Sound, id, a});
        } else if (a == "--rec") {
            if (!value(v))
                return usage("--rec needs a number of seconds");
            double seconds = 0;
            if (!ParseNumber(v, seconds) || !(seconds >= 0 && seconds <= 3600))
                return usage("--rec takes a number of seconds from 0 to 3600, not \"" + v + "\"");
            steps.push_back({Kind::Rec, IDC_REC, v, seconds});
        } else if (a == "--rec-file") {
            if (!value(recFile))
                return usage("--rec-file needs a file name");
            haveRecFile = true;
        } else if (a == "--") {
            files.insert(files.end(), args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
            break;
        } else if (a.size() > 1 && a[0] == '-') {
            return usage("unknown option " + a);
        } else {
            files.push_back(a);
        }
    }
    // The machine profiles: --save-deck and --list-decks run alone; --deck
    // gives the meter a profile's transport, the options given over it.
    if (deckReq.list || deckReq.saveSeen || deckReq.descriptionSeen) {
        const meter::MeterSettings& s = meterReq.settings;
        if (deckReq.list && deckReq.saveSeen)
            return usage("--save-deck and --list-decks go one at a time");
        if (!deckReq.saveSeen && deckReq.descriptionSeen)
            return usage("--deck-description goes with --save-deck");
        if (deckReq.deckSeen || meterReq.on || liveReq.on || !files.empty() || !steps.empty() || batch.batchSeen ||
            s.carrierHz > 0 || !s.channels.empty() || s.nominalHz > 0 || s.Stretch() || !meterReq.csv.empty() ||
            !meterReq.png.empty() || !meterReq.report.empty() || !meterReq.paper.empty() ||
            (deckReq.list && meterReq.optionsSeen))
            return usage("--save-deck NAME takes the transport options and --deck-description alone, --list-decks "
                         "nothing but --json");
        if (const std::string why = CheckTransport(s.transport); !why.empty())
            return usage(why);
        return RunDeckCommand(meter::MachinesPath(), deckReq, s.transport, json, out, err);
    }
    if (deckReq.deckSeen) {
        if (!meterReq.on && !liveReq.on)
            return usage("--deck goes with --meter or --meter-live");
        std::string why;
        if (const int status = ApplyDeck(meter::MachinesPath(), deckReq.deck, meterReq.settings.transport, why,
                                            &meterReq.deckDescription)) {
            if (status == kExitUsage)
                return usage(why);
            err << "tarvo-cli: " << why << "\n";
            return kExitMessage;
        }
        meterReq.deck = deckReq.deck;
    }
    if (std::string why = CheckBatchUsage(batch, meterReq, files.size(), !steps.empty()); !why.empty())
        return usage(why);
    if (batch.batchSeen || files.size() > 1) {
        if (const std::string why = CheckTransport(meterReq.settings.transport); !why.empty())
            return usage(why);
        return RunMeterBatch(files, meterReq, batch, json, out, err);
    }
    if (!files.empty()) {
        file = files.front();
        haveFile = true;
    }

    if (liveReq.listInputs) {
        if (!steps.empty() || haveFile || meterReq.on || meterReq.optionsSeen || liveReq.on || !liveReq.input.empty())
            return usage("--list-inputs lists the sound inputs: it takes no FILE, command or other option than --json");
        return ListInputs(json, out, err);
    }
    if (!liveReq.input.empty() && !liveReq.on &&
        std::none_of(steps.begin(), steps.end(), [](const Step& st) { return st.kind == Kind::Rec; }))
        return usage("--input goes with --meter-live or --rec");
    if (liveReq.on && (meterReq.on || !meterReq.csv.empty() || !meterReq.png.empty() || haveFile))
        return usage("--meter-live measures the sound input: it takes no FILE, --meter, --meter-csv or --meter-png");
    if (meterReq.optionsSeen && !meterReq.on && !liveReq.on)
        return usage("--carrier, --nominal, --channel, --meter-csv and --meter-png go with --meter");
    const bool recording = std::any_of(steps.begin(), steps.end(), [](const Step& st) { return st.kind == Kind::Rec; });
    if (const std::string why = CheckTransport(meterReq.settings.transport); !why.empty())
        return usage(why);
    if (meterReq.on && !haveFile && !recording)
        return usage("--meter needs a FILE or a --rec take");
    // The take is written under its name: never over FILE.
    if (recording && haveFile && IsSameFile(recFile.empty() ? std::string("temp.wav") : recFile, file))
        return usage("--rec-file names FILE itself: the take would be written over it");
    // The meter alone reads FILE itself: the form's reader may refuse what
    // the meter takes (16-bit, stereo, FLAC...), and its fields say nothing.
    const bool meterOnly = (meterReq.on || liveReq.on) && steps.empty();

    VirtualForm form(FormTemplate());
    CTarvoDoc doc;
    CTarvoView view(form, doc);
    CSingleDocTemplate docTemplate(doc, view, form);
    docTemplate.OnFileNew();
    // A FILE that cannot be opened ends the run: no command runs on the new
    // document the window would keep instead. The meter alone reads FILE itself.
    const bool opened = !haveFile || meterOnly || docTemplate.OpenDocumentFile(file);

    // The list as the last Show Freqs window showed it.
    std::optional<std::string> list;
    form.onDialogOpened = [&list](const CDialog& dlg, const VirtualForm& controls) {
        if (dlg.Template().id == IDD_FREQLIST)
            list = controls.GetDlgItemText(IDC_FREQLIST);
    };

    std::vector<RecordedMessage> outputFailures;  // files the CLI itself could not write

    // The audio server, and Qt with it, is only reached when a sound
    // command is given.
    std::unique_ptr<SoundPlatform> sound;
    bool noDevice = false, noModule = false;
    auto soundReady = [&](bool input) {
        std::string why;
        if (!sound && !noModule) {
            if (const QtModule* qt = LoadQtModule(why)) {
                sound.reset(qt->createSound());
                sound->SelectInput(liveReq.input);
                view.SetSoundServices(&sound->Playback(), &sound->Recorder());
            } else {
                noModule = true;
            }
        }
        if (!(sound && (input ? sound->HasInput() : sound->HasOutput())) && !noDevice) {
            // A named input that is not there, while the server answers, says so by its name.
            if (input && sound && !liveReq.input.empty() && !sound->Inputs().empty())
                err << "tarvo-cli: " << UnknownInputText(liveReq.input) << "\n";
            else
                err << "tarvo-cli: no audio device was found" << (why.empty() ? "" : " (" + why + ")") << "\n";
            noDevice = true;
        }
        return sound != nullptr;
    };
    bool recFailed = false;  // a --rec that made no take ends the run
    for (const Step& s : steps) {
        if (!opened || recFailed)
            break;
        switch (s.kind) {
        case Kind::Click: form.Click(s.id); break;
        case Kind::Type: form.Type(s.id, s.arg); break;
        case Kind::Press:
            if (s.id == ID_SHOWFREQS)
                list.reset();
            view.OnCmdMsg(s.id);
            break;
        case Kind::SaveData:
            form.QueueSaveFileAnswer(s.arg);
            view.OnCmdMsg(s.id);
            break;
        case Kind::Png:
            if (std::string why; !WritePng(form.ClientSurface(), s.arg, {file, doc.GetPathName()}, &why)) {
                // The same words as SaveData's failure.
                err << "tarvo-cli: cannot write " << s.arg << ": " << why << "\n";
                outputFailures.push_back({SaveDataFailureText(false, s.arg, why), "tarvo-cli", 0});
            }
            break;
        case Kind::Sound:
            // Without an output device it has been said once already.
            if (soundReady(false) && sound->HasOutput())
                view.OnCmdMsg(s.id);
            break;
        case Kind::Rec: {
            // Without an input device there is no take: no later command may
            // run on an old file as if it were one.
            if (!soundReady(true) || !sound->HasInput()) {
                recFailed = true;
                break;
            }
            const size_t messagesBefore = form.Messages().size();
            form.QueueDialogDriver([&](CDialog& dlg, VirtualForm& controls) {
                if (haveRecFile)
                    controls.Type(IDC_FILENAME, recFile);
                VirtualForm::Press(dlg, IDC_RECORD);
                sound->RunFor(s.seconds);
                VirtualForm::Press(dlg, IDC_STOPRECORD);
                VirtualForm::Press(dlg, IDOK);
            });
            view.OnCmdMsg(s.id);
            recFailed = form.Messages().size() != messagesBefore;  // the take failed, and said why
            break;
        }
        }
    }
    MeterOutcome meterOut;
    if (liveReq.on && opened && !recFailed && soundReady(true) && !noDevice)
        // While a looping test sound still plays.
        meterOut = RunMeterLive(*sound, liveReq, meterReq.settings, json, out);
    if (sound) {
        // A file played once is heard to its end; a loop stops here.
        sound->WaitForSound();
        sound->Playback().Play(std::string(), SND_ASYNC);
        view.SetSoundServices(nullptr, nullptr);
        sound.reset();
    }
    form.onDialogOpened = nullptr;

    meterReq.limits = batch.limits;
    if (meterReq.on && opened && !recFailed)
        // The document's file as the commands left it (a --rec take becomes
        // the document); FILE itself when the meter alone reads it.
        meterOut = RunMeterCommand(meterOnly || doc.GetPathName().empty() ? file : doc.GetPathName(), meterReq);
    // The limits give one file its verdict as they do each file of a batch.
    // A figure missing where a limit wants it is an error, never a pass.
    const Verdict limitVerdict =
        meterOut.ok && batch.limits.Any() ? ApplyLimits(batch.limits, meterOut.json) : Verdict::Pass;
    if (meterOut.ok && batch.limits.Any())
        for (const auto& ch : meterOut.json["channels"])
            meterOut.lines.push_back("Meter channel " + ch["channel"].dump() + " verdict: " +
                                     ch["verdict"].get<std::string>() +
                                     (ch["failed_limits"].empty() ? "" : " (" + FailedLimitsText(ch) + ")"));

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
        for (const RecordedMessage& m : outputFailures)
            doc["messages"].push_back({{"caption", m.caption}, {"text", m.text}});
        if (listAsked && opened)
            doc["list"] = list ? nlohmann::ordered_json(*list) : nlohmann::ordered_json();
        for (const auto& [caption, text] : meterOut.messages)
            doc["messages"].push_back({{"caption", caption}, {"text", text}});
        if (meterOut.ok)
            doc["meter"] = meterOut.json;
        if (!meterOut.record.is_null())
            doc["record"] = meterOut.record;
        out << doc.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << "\n";
    } else {
        if (!meterOnly)
            for (const auto& [label, text] : fields)
                out << label << ": " << text << "\n";
        // The list's rows, one a line.
        for (size_t start = 0; list && start < list->size();) {
            size_t end = list->find("\r\n", start);
            if (end == std::string::npos)
                end = list->size();
            out << list->substr(start, end - start) << "\n";
            start = end + 2;
        }
        for (const std::string& line : meterOut.lines)
            out << line << "\n";
        for (const RecordedMessage& m : messages)
            err << m.caption << ": " << m.text << "\n";
        for (const auto& [caption, text] : meterOut.messages)
            err << caption << ": " << text << "\n";
    }
    return !messages.empty() || !outputFailures.empty() || !meterOut.messages.empty() || noDevice ||
                   limitVerdict == Verdict::Error
               ? kExitMessage
           : limitVerdict == Verdict::Fail ? kExitLimit
                                           : kExitOk;
}

}  // namespace tarvo

// Arbitrary bytes as a store of machine profiles: one that is read holds
// valid names (each once), valid descriptions and transports that hold
// together, and its text as written reads back the same; one that is not
// says why and holds nothing.
#include "meter/Machines.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

[[noreturn]] void Fail(const char* what)
{
    std::fprintf(stderr, "fuzz_decks: %s\n", what);
    std::abort();
}

bool Same(const tarvo::meter::Transport& a, const tarvo::meter::Transport& b)
{
    return a.rpm == b.rpm && a.driveRatio == b.driveRatio && a.tapeSpeedCmS == b.tapeSpeedCmS &&
           a.capstanMm == b.capstanMm && a.pinchRollerMm == b.pinchRollerMm && a.motorRatio == b.motorRatio &&
           a.reelMinMm == b.reelMinMm && a.reelMaxMm == b.reelMaxMm && a.motorPoles == b.motorPoles &&
           a.motorSlots == b.motorSlots;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace tarvo::meter;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<Machine> machines;
    std::string why;
    if (!ParseMachines(text, machines, why)) {
        if (why.empty())
            Fail("a store refused without a reason");
        if (!machines.empty())
            Fail("a store refused with profiles left");
        return 0;
    }
    if (machines.size() > kMostMachines)
        Fail("more profiles than a store holds");
    for (size_t i = 0; i < machines.size(); ++i) {
        const Machine& m = machines[i];
        if (!MachineNameFault(m.name).empty() || !MachineDescriptionFault(m.description).empty())
            Fail("a name or a description that is refused when saved");
        if (FindMachine(machines, m.name) != &m)
            Fail("a name given twice");
        if (!TransportFault(m.transport).empty())
            Fail("a transport the meter refuses");
        if (TransportLine(m.transport).empty())
            Fail("a transport with no line");
    }
    const std::string written = FormatMachines(machines);
    if (written.size() > kLargestMachineFile)
        return 0;  // never written: WriteMachines refuses it
    std::vector<Machine> back;
    if (!ParseMachines(written, back, why))
        Fail("a store as written does not read back");
    if (back.size() != machines.size())
        Fail("the store read back holds other profiles");
    for (size_t i = 0; i < back.size(); ++i)
        if (back[i].name != machines[i].name || back[i].description != machines[i].description ||
            !Same(back[i].transport, machines[i].transport))
            Fail("a profile read back differs");
    return 0;
}

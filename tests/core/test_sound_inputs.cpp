// The list of sound inputs as the hosts offer it: the default first, each
// name once, the input read when one was chosen, and a listing's lines.
#include "cli/MeterLive.h"
#include "sound/SoundInputs.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace tarvo {
namespace {

std::vector<std::string> Names(const std::vector<SoundInput>& inputs)
{
    std::vector<std::string> names;
    for (const SoundInput& in : inputs)
        names.push_back(in.name + (in.isDefault ? "*" : ""));
    return names;
}

TEST(SoundInputs, DefaultFirstEachNameOnce)
{
    const std::vector<SoundInput> server{
        {"mic", "Microphone"}, {"out.monitor", "Monitor of Speakers"}, {"line", "Line In"}, {"mic", "Microphone again"}, {"", "nameless"}};
    const struct {
        std::string defaultName;
        std::vector<std::string> want;
    } cases[] = {
        {"line", {"line*", "mic", "out.monitor"}},
        {"out.monitor", {"out.monitor*", "mic", "line"}},
        {"mic", {"mic*", "out.monitor", "line"}},
        {"", {"mic", "out.monitor", "line"}},         // the server names none
        {"gone", {"mic", "out.monitor", "line"}},     // nor one that is there
    };
    for (const auto& c : cases) {
        const std::vector<SoundInput> ordered = OrderInputs(server, c.defaultName);
        EXPECT_EQ(Names(ordered), c.want) << c.defaultName;
        ASSERT_NE(FindInput(ordered, "mic"), nullptr);
        EXPECT_EQ(FindInput(ordered, "mic")->description, "Microphone");  // the first of a name given twice
    }
    // A source the server gives no words for is called by its name.
    EXPECT_EQ(OrderInputs({{"only.monitor", ""}}, "only.monitor").front().description, "only.monitor");
}

TEST(SoundInputs, TheChosenInputWhileItIsThereElseTheDefault)
{
    const std::vector<SoundInput> inputs = OrderInputs({{"mic", "Microphone"}, {"out.monitor", "Monitor"}}, "out.monitor");
    const struct {
        std::vector<SoundInput> list;
        std::string wanted, read;
    } cases[] = {
        {inputs, "mic", "mic"},
        {inputs, "", "out.monitor"},
        {inputs, "unplugged", "out.monitor"},
        {{}, "mic", ""},
        {{}, "", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ChooseInput(c.list, c.wanted), c.read) << c.wanted << " among " << c.list.size();
    EXPECT_EQ(FindInput(inputs, "unplugged"), nullptr);
}

TEST(SoundInputs, AListingHasOneLineAnInput)
{
    const std::vector<SoundInput> inputs =
        OrderInputs({{"mic", "USB \"Mic\"\nrev 2"}, {"tarvo_test.monitor", "Monitor of Null Output"}}, "tarvo_test.monitor");
    EXPECT_EQ(InputListText(inputs, false), "tarvo_test.monitor\tMonitor of Null Output\nmic\tUSB \"Mic\" rev 2\n");
    EXPECT_EQ(InputListText({}, false), "");
    const std::string json = InputListText(inputs, true);
    ASSERT_EQ(json.back(), '\n');
    EXPECT_EQ(std::count(json.begin(), json.end(), '\n'), 1);
    const nlohmann::json j = nlohmann::json::parse(json);
    ASSERT_EQ(j["inputs"].size(), 2u);
    EXPECT_EQ(j["inputs"][0], (nlohmann::json{{"name", "tarvo_test.monitor"}, {"description", "Monitor of Null Output"}, {"default", true}}));
    EXPECT_EQ(j["inputs"][1]["description"], "USB \"Mic\"\nrev 2");  // JSON keeps the text as it is
    EXPECT_EQ(j["inputs"][1]["default"], false);
    EXPECT_EQ(nlohmann::json::parse(InputListText({}, true)), (nlohmann::json{{"inputs", nlohmann::json::array()}}));
}

}  // namespace
}  // namespace tarvo

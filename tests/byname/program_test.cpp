#include "byname/program.hpp"
#include "byname/operations.hpp"
#include "platform/memory_gui.hpp"
#include "platform/optable.hpp"
#include "shell/memory_window.hpp"
#include "shell/window_env.hpp"
#include "shell/window_utils.hpp"

#include <gtest/gtest.h>

#include <sstream>

using namespace quillan;

namespace {

class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        gui.set_loader([this](MemoryGui& g, const std::string& path) {
            loaded.push_back(path);
            const Handle fig = build_memory_window(g);
            g.create("uicontrol", fig, {{"tag", Value("edit1")}, {"style", Value("edit")}});
            return fig;
        });
        gui.set(kRoot, "defaultUicontrolBackgroundColor", Value(matrix_from_rows({{0.5, 0.25, 0.75}})));
    }
    // Console lines written since the last call.
    std::vector<std::string> lines() {
        std::vector<std::string> out;
        std::istringstream in(console.str());
        for (std::string l; std::getline(in, l);) out.push_back(l);
        console.str("");
        return out;
    }

    MemoryGui gui;
    std::ostringstream console;
    Program program{gui, console};
    std::vector<std::string> loaded;
};

}  // namespace

TEST_F(ProgramTest, OpeningTheWindowColoursItAndKeepsItsHandlesOnIt) {
    const auto result = program.quillan({}, 1);
    ASSERT_EQ(result.size(), 1u);
    const Handle fig = result[0].scalar();
    EXPECT_EQ(loaded, (std::vector<std::string>{"quillan.fig"}));
    EXPECT_EQ(elements(gui.get(fig, "Color").matrix()), (std::vector<double>{0.5, 0.25, 0.75}));
    const Value handles = guidata(gui, Value(fig));
    ASSERT_TRUE(handles.is_record());
    for (const char* tag : {kFileBox, kPermBox, kCovBox, kResultsBox, "edit1"}) EXPECT_TRUE(handles.record().has(tag)) << tag;
    EXPECT_EQ(handles.record().find(kPermBox)->scalar(), gui.findobj_tag(kPermBox).front());
}

TEST_F(ProgramTest, OpeningAgainReusesTheWindowWithItsContents) {
    const Handle fig = program.open_main_window();
    gui.set(gui.findobj_tag(kPermBox).front(), "String", Value("50"));
    EXPECT_TRUE(program.quillan({}, 0).empty());
    EXPECT_EQ(program.open_main_window(), fig);
    EXPECT_EQ(loaded.size(), 1u);
    EXPECT_EQ(gui.get(gui.findobj_tag(kPermBox).front(), "String").text(), "50");
}

TEST_F(ProgramTest, MissingLayoutFailsTheOpening) {
    MemoryGui bare;  // no layout to load
    std::ostringstream out;
    Program p(bare, out);
    EXPECT_THROW(p.quillan({}, 0), QuillanError);
}

TEST_F(ProgramTest, TextFirstInputCallsTheNamedOperationAndHandsBackItsResults) {
    const auto r = program.quillan({Value("isvarname"), Value("PermBox")}, 1);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].scalar(), 1.0);

    program.open_main_window();
    gui.set(gui.findobj_tag(kFileBox).front(), "String", Value("Data File: a.txt"));
    program.quillan({Value("quillan_action"), Value("Clear")}, 0);
    EXPECT_EQ(gui.get(gui.findobj_tag(kFileBox).front(), "String").text(), "   ");
}

TEST_F(ProgramTest, FailuresOfTheNamedOperationArePrintedNotRaised) {
    std::vector<Value> r;
    EXPECT_NO_THROW(r = program.quillan({Value("no_such_operation"), Value(1.0)}, 1));
    EXPECT_TRUE(r.empty());
    EXPECT_EQ(lines(), (std::vector<std::string>{"Undefined function or operation 'no_such_operation'."}));

    EXPECT_NO_THROW(program.quillan({Value("quillan_action"), Value("Load"), Value("extra")}, 0));
    EXPECT_EQ(lines(), (std::vector<std::string>{too_many_inputs_text("quillan_action", 1, 1)}));

    // The window utilities fail the same way: the text, and nothing else.
    EXPECT_NO_THROW(program.quillan({Value("openfig"), Value("layout.txt")}, 1));
    EXPECT_EQ(lines(), (std::vector<std::string>{kNotAFigFile}));
}

TEST_F(ProgramTest, FirstInputThatIsNotATextDoesNothing) {
    EXPECT_TRUE(program.quillan({Value(3.0), Value("Clear")}, 1).empty());
    EXPECT_TRUE(program.quillan({Value(List{Value("quillan_action")})}, 0).empty());
    EXPECT_TRUE(loaded.empty());
    EXPECT_TRUE(lines().empty());
    EXPECT_TRUE(gui.messages().empty());
}

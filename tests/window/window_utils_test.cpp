#include "window/window_utils.hpp"
#include "platform/error.hpp"
#include "support/text.hpp"
#include "window/operations.hpp"
#include "window/optable.hpp"
#include "window/program.hpp"
#include "window/shell.hpp"
#include "window/window_env.hpp"
#include "window_model/memory_gui.hpp"
#include "window_model/memory_window.hpp"

#include <gtest/gtest.h>

#include <sstream>

using namespace quillan::test;
using namespace quillan;

namespace {

Value rect(double x, double y, double w, double h) { return Value(matrix_from_rows({{x, y, w, h}})); }

std::vector<double> rect_of(Gui& gui, Handle h, const char* prop) { return elements(gui.get(h, prop).matrix()); }

// A window whose outer frame adds a border of 4 pixels and a title bar of 20.
Handle make_window(MemoryGui& gui, double x, double y, double w, double h) {
    return gui.create("figure", kRoot,
                      {{"position", rect(x + 4, y + 4, w - 8, h - 28)},
                       {"outerposition", rect(x, y, w, h)},
                       {"activepositionproperty", Value("outerposition")}});
}

void set_screen(MemoryGui& gui, double w, double h) { gui.set(kRoot, "screensize", rect(1, 1, w, h)); }

}  // namespace

TEST(Names, ValidNamesAreShortIdentifiersThatAreNotKeywords) {
    // Keywords are matched exactly: "For" is a name.
    for (const auto& t : std::vector<std::string>{"FileBox", "edit1", "a_1", std::string(31, 'x'), "For"})
        EXPECT_TRUE(isvarname(t)) << t;
    for (const auto& t : std::vector<std::string>{std::string(32, 'x'), "", "2box", "_hidden", "with space", "dash-ed", "for"})
        EXPECT_FALSE(isvarname(t)) << t;
    for (const char* t : {"elseif", "for"}) EXPECT_TRUE(iskeyword(t)) << t;
    for (const char* t : {"End", "end ", "elsif"}) EXPECT_FALSE(iskeyword(t)) << t;
    EXPECT_FALSE(isvarname(Value(3.0)));
    EXPECT_FALSE(isvarname(Value(List{Value("ab")})));
}

// Each case: the screen, the window's outer frame, the arguments after the
// window (none means "onscreen"), and where its outer frame ends up.
TEST(Movegui, PlacesTheWindowWhereItsArgumentsSay) {
    const struct {
        double screen_w, screen_h;
        std::vector<double> from;
        std::vector<Value> args;
        std::vector<double> to;
    } cases[] = {
        // Wider than the screen: shrunk to it and put at the left edge.
        {800, 600, {300, 50, 900, 400}, {Value("onscreen")}, {0, 50, 800, 400}},
        // Pulled back from each edge; a visible window is left alone.
        {1000, 800, {-120, 700, 400, 300}, {}, {0, 500, 400, 300}},
        {1000, 800, {900, -50, 400, 300}, {Value("onscreen")}, {600, 0, 400, 300}},
        {1000, 800, {100, 200, 400, 300}, {Value("onscreen")}, {100, 200, 400, 300}},
        // A corner given; negative values count from the right and the top.
        {1000, 800, {10, 10, 400, 300}, {Value(matrix_from_rows({{25, 40}}))}, {25, 40, 400, 300}},
        {1000, 800, {10, 10, 400, 300}, {Value(matrix_from_rows({{-10, -20}}))}, {590, 480, 400, 300}},
    };
    for (const auto& c : cases) {
        MemoryGui gui;
        set_screen(gui, c.screen_w, c.screen_h);
        const Handle fig = make_window(gui, c.from[0], c.from[1], c.from[2], c.from[3]);
        std::vector<Value> args{Value(fig)};
        args.insert(args.end(), c.args.begin(), c.args.end());
        movegui(gui, args);
        EXPECT_EQ(rect_of(gui, fig, "outerposition"), c.to) << c.from[0] << "," << c.from[1];
        // The inner area moves with the frame.
        EXPECT_EQ(rect_of(gui, fig, "position")[0], c.to[0] + 4);
    }
    // The window may come after the position.
    MemoryGui gui;
    set_screen(gui, 1000, 800);
    const Handle fig = make_window(gui, 10, 10, 400, 300);
    movegui(gui, {Value(matrix_from_rows({{-10, -20}})), Value(fig)});
    EXPECT_EQ(rect_of(gui, fig, "outerposition"), (std::vector<double>{590, 480, 400, 300}));
}

TEST(Movegui, RestoresUnitsAndPositionPropertyAndFindsTheWindowOfAControl) {
    MemoryGui gui;
    set_screen(gui, 1000, 800);
    const Handle fig = make_window(gui, 10, 10, 400, 300);
    const Handle panel = gui.create("uipanel", fig);
    const Handle button = gui.create("uicontrol", panel, {{"style", Value("pushbutton")}});
    gui.set(fig, "units", Value("characters"));
    gui.set(fig, "activepositionproperty", Value("position"));
    gui.set(kRoot, "units", Value("inches"));
    movegui(gui, {Value(button), Value("northeast")});
    EXPECT_EQ(rect_of(gui, fig, "outerposition"), (std::vector<double>{600, 500, 400, 300}));
    EXPECT_EQ(gui.get(fig, "units").text(), "characters");
    EXPECT_EQ(gui.get(fig, "activepositionproperty").text(), "position");
    EXPECT_EQ(gui.get(kRoot, "units").text(), "inches");
}

TEST(Movegui, WithoutAWindowArgumentMovesTheCallbackWindowElseTheCurrentOne) {
    MemoryGui gui;
    set_screen(gui, 1000, 800);
    const Handle a = make_window(gui, 10, 10, 400, 300);
    const Handle b = make_window(gui, 10, 10, 400, 300);
    const Handle button = gui.create("uicontrol", a);
    gui.figure(b);
    movegui(gui, {Value("southeast")});
    EXPECT_EQ(rect_of(gui, b, "outerposition")[0], 600);
    EXPECT_EQ(rect_of(gui, a, "outerposition")[0], 10);

    // Called as a control's callback, with the control's event data second.
    gui.set_callback_object(button);
    movegui(gui, {Value("center"), Value(List{})});
    EXPECT_EQ(rect_of(gui, a, "outerposition")[0], 300);
}

TEST(Movegui, RejectsWhatItCannotUse) {
    MemoryGui gui;
    const Handle fig = make_window(gui, 10, 10, 400, 300);
    EXPECT_EQ(error_of([&] { movegui(gui, fig, "middle"); }), kBadPosition);
    EXPECT_EQ(error_of([&] { movegui(gui, fig, "North"); }), kBadPosition);
    EXPECT_EQ(error_of([&] { movegui(gui, {Value(kRoot)}); }), kNeedFigureHandle);
    EXPECT_EQ(error_of([&] { movegui(gui, {Value(fig), Value(List{})}); }), kBadMoveInput);  // no callback running
    EXPECT_EQ(error_of([&] { movegui(gui, {Value(matrix_from_rows({{1, 2, 3}}))}); }), kBadMoveInput);
    EXPECT_EQ(error_of([&] { movegui(gui, {Value(12345.0)}); }), kBadMoveInput);  // not a handle
    EXPECT_NE(error_of([&] {
                  movegui(gui, {Value(fig), Value("center"), Value(matrix_from_rows({{1, 2}})), Value(fig)});
              }),
              "(no error)");
}

TEST(Guihandles, RecordHasOneFieldPerValidTagAndSkipsTheRestAndSharedTagsCollectEveryHandle) {
    MemoryGui gui;
    const Handle fig = make_window(gui, 0, 0, 400, 300);
    const Handle file_box = gui.create("uicontrol", fig, {{"tag", Value("FileBox")}});
    gui.create("uicontrol", fig, {{"tag", Value("2box")}});
    gui.create("uicontrol", fig, {{"tag", Value("for")}});
    gui.create("uicontrol", fig);  // no tag
    const Record r = guihandles(gui, Value(file_box));
    ASSERT_EQ(r.names, (std::vector<std::string>{"FileBox"}));
    EXPECT_EQ(r.find("FileBox")->scalar(), file_box);

    // A shared tag collects every handle, hidden ones included.
    gui.set(fig, "tag", Value("main"));
    const Handle panel = gui.create("uipanel", fig, {{"tag", Value("extras")}, {"visible", Value("off")}});
    const Handle a = gui.create("uicontrol", panel, {{"tag", Value("spare")}, {"visible", Value("off")}});
    const Handle b = gui.create("uicontrol", fig, {{"tag", Value("spare")}});
    const Record all = guihandles(gui, Value(a));
    EXPECT_EQ(all.names, (std::vector<std::string>{"main", "FileBox", "extras", "spare"}));
    EXPECT_EQ(all.find("main")->scalar(), fig);
    EXPECT_EQ(all.find("extras")->scalar(), panel);
    EXPECT_EQ(elements(all.find("spare")->matrix()), (std::vector<double>{a, b}));
    // Without an argument, the current window.
    EXPECT_EQ(guihandles(gui).names, all.names);
}

TEST(Guidata, StoresOnTheWindowWhicheverObjectIsGivenAndRefusesAnythingButOneObjectInAWindow) {
    MemoryGui gui;
    const Handle fig = make_window(gui, 0, 0, 400, 300);
    const Handle box = gui.create("uicontrol", fig, {{"tag", Value("PermBox")}});
    EXPECT_TRUE(guidata(gui, Value(fig)).is_empty());
    guidata(gui, Value(box), Value("kept"));
    EXPECT_EQ(guidata(gui, Value(fig)).text(), "kept");
    EXPECT_EQ(gui.getappdata(fig, kGuiDataName).text(), "kept");

    // Anything but one object in a window is refused, by guihandles too.
    const Handle two = gui.create("uicontrol", fig);
    const Value pair(matrix_from_rows({{fig, two}}));
    for (const Value& bad : {Value(kRoot), Value(999.0), pair, Value("FileBox"), Value(Matrix())}) {
        EXPECT_EQ(error_of([&] { guidata(gui, bad); }), kNeedFigureOrDescendent);
        EXPECT_EQ(error_of([&] { guidata(gui, bad, Value(1.0)); }), kNeedFigureOrDescendent);
        EXPECT_EQ(error_of([&] { guihandles(gui, bad); }), kNeedFigureOrDescendent);
    }
}

class OpenfigTest : public ::testing::Test {
protected:
    void SetUp() override {
        set_screen(gui, 1000, 800);
        gui.set_loader([this](MemoryGui& g, const std::string& path) {
            loaded.push_back(path);
            return make_window(g, 100, 100, 400, 300);
        });
    }
    MemoryGui gui;
    std::vector<std::string> loaded;
};

TEST_F(OpenfigTest, NewLoadsEveryTimeAndReuseTakesTheLastOpenWindow) {
    const Handle a = openfig(gui, "quillan");
    const Handle b = openfig(gui, "quillan.fig", "new");
    EXPECT_NE(a, b);
    EXPECT_EQ(openfig(gui, "quillan", "reuse"), b);
    EXPECT_EQ(elements(gui.getappdata(kRoot, "quillan_SINGLETON_handle").matrix()), (std::vector<double>{a, b}));
    // A closed window is forgotten; with none left, reuse loads again.
    gui.destroy(b);
    EXPECT_EQ(openfig(gui, "quillan", "reuse"), a);
    gui.destroy(a);
    const Handle c = openfig(gui, "quillan", "reuse");
    EXPECT_EQ(loaded.size(), 3u);
    EXPECT_EQ(elements(gui.getappdata(kRoot, "quillan_SINGLETON_handle").matrix()), (std::vector<double>{c}));
}

TEST_F(OpenfigTest, FileNamesAndPoliciesAreChecked) {
    EXPECT_EQ(error_of([&] { openfig(gui, "notes.txt", "reuse"); }), kNotAFigFile);
    EXPECT_EQ(error_of([&] { openfig(gui, "/data/layout.FIG"); }), kNotAFigFile);
    EXPECT_EQ(error_of([&] { openfig(gui, "quillan", "Reuse"); }), kBadPolicy);
    EXPECT_TRUE(loaded.empty());
    openfig(gui, "/opt/layouts/quillan", "new");
    openfig(gui, "layouts.v2/main");  // a dot in the folder is not an extension
    EXPECT_EQ(loaded, (std::vector<std::string>{"/opt/layouts/quillan.fig", "layouts.v2/main.fig"}));
}

TEST(WindowOps, CallableByNameWithTheirDeclaredCounts) {
    MemoryGui gui;
    build_memory_window(gui);
    std::ostringstream out;
    Console console(out);
    Shell shell(gui, console);
    const OpTable ops = build_op_table(shell);
    for (const char* name : {"guidata", "guihandles", "openfig", "isvarname", "movegui", "iskeyword"})
        EXPECT_TRUE(ops.find(name)) << name;

    EXPECT_EQ(ops.call("isvarname", {Value("ResultsBox")}, 1)[0].scalar(), 1.0);
    EXPECT_EQ(ops.call("iskeyword", {Value("while")}, 1)[0].scalar(), 1.0);
    EXPECT_EQ(ops.call("iskeyword", {}, 1)[0].list().size(), 17u);

    const Handle box = gui.findobj_tag(kPermBox).front();
    const Record r = ops.call("guihandles", {Value(box)}, 1)[0].record();
    EXPECT_TRUE(r.has(kFileBox) && r.has(kPermBox) && r.has(kCovBox) && r.has(kResultsBox));
    ops.call("guidata", {Value(box), Value(r)}, 0);
    EXPECT_TRUE(ops.call("guidata", {Value(box)}, 1)[0].is_record());
    // Storing gives nothing back.
    EXPECT_EQ(error_of([&] { ops.call("guidata", {Value(box), Value(1.0)}, 1); }), too_many_outputs_text("guidata", 1, 0));
    EXPECT_EQ(error_of([&] {
                  ops.call("openfig", {Value("a"), Value("new"), Value(1.0)}, 1);
              }),
              too_many_inputs_text("openfig", 1, 2));
}

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

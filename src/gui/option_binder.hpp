// The window's side of the actions' declared options.  A control of the
// layout whose dynamic property "option" names an option (and, for a box
// ticked to mean "off", "optionInverted") is that option's control; when an
// action runs, the options it takes are read from the controls of the page
// that holds its button, and from nowhere else, so that no page's settings
// leak into another's actions and no panel writes an option by hand.  A
// control whose property "optionEveryPage" is true holds for every page (the
// size correction, one setting for the analyses of every page and the
// specimens' export).
#pragma once

#include "analyses/options.hpp"

#include <QString>

#include <string>
#include <vector>

class QWidget;

namespace quillan {

struct ActionRow;

// The page of `window` that holds the button of `action`: the tab page it
// sits on, or the window itself when it sits on no tab.  nullptr when no
// button names the action.
QWidget* page_of_action(QWidget* window, const std::string& action);

// The controls of `page` bound to an option, in layout order.
std::vector<QWidget*> option_controls(QWidget* page);

// What the controls of the page of `row`'s button say for the options the
// row declares: a line box its trimmed text, a choice box the word of its
// entry (a box of names its entry, "(none)" as nothing), a tick box "true"
// or "false"; then the controls for every page.  Options without a control
// there are not given.
GivenOptions read_page_options(QWidget* window, const ActionRow& row);

// The text a control holds for the option `decl`, as read_page_options reads it.
std::string control_text(QWidget* control, const OptionDecl& decl);

// A control whose dynamic property "runOption" names one of quillan-batch's
// own options ("--leave-out-missing") says in its tooltip what that option's
// help says, and which option it is: the two front ends describe it once.
void describe_run_option_controls(QWidget* window);

}  // namespace quillan

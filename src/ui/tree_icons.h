// The images of the tree rows. The description names an element's images by number (its two
// record values), the program adds a few of its own (43 and 44 for the two kinds of БУИМ
// range, 46 for a connector, 20 for the service element); parameter rows show one of three
// images by their kind. Every image is an SVG of the program's resources; a number without
// one gets a plain folder from the widget style, so an unexpected description never shows a
// blank row.
#pragma once

#include <QIcon>

#include "model/parameter.h"

namespace kba604::tree_icons {

// The image of a node by its number.
QIcon for_number(int number);
// Whether the program has an image of its own for the number.
bool has_number(int number);
// The image of a parameter row.
QIcon for_parameter(RowIcon icon);
// A polled operational parameter.
QIcon operational();
// The roots of the tree: the configuration and the computer.
QIcon configuration();
QIcon computer();

}  // namespace kba604::tree_icons

#pragma once

// The display widget set of the comparison player, in the look of a vacuum-fluorescent
// display.
#include "ui/vfd/Lamp.h"
#include "ui/vfd/LevelMeter.h"
#include "ui/vfd/Palette.h"
#include "ui/vfd/Panel.h"
#include "ui/vfd/Scrubber.h"
#include "ui/vfd/SevenSegment.h"

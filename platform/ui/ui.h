// A headless widget model. Panels build and drive these objects exactly as
// they would drive the platform's views; whoever hosts them (the Qt front
// end, the command-line host, a test) mirrors them through observers and
// answers modal windows, alerts and open panels through a ModalHandler.
//
// Everything runs on one thread, the one that drives the panels.
//
// One header per widget family; this one is for callers that want them all.
#pragma once

#include "ui/containers.h"
#include "ui/controls.h"
#include "ui/nib.h"
#include "ui/notifications.h"
#include "ui/view.h"
#include "ui/windows.h"

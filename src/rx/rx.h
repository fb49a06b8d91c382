#pragma once

// The reactive-streams layer: Observable, Single, subjects, disposables and
// schedulers.

#include "rx/disposable.h"
#include "rx/event.h"
#include "rx/observable.h"
#include "rx/observer.h"
#include "rx/rx_error.h"
#include "rx/scheduler.h"
#include "rx/single.h"
#include "rx/subjects.h"

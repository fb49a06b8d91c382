#pragma once

// The reactive-streams layer: Observable, Single, subjects, disposables and
// schedulers.

#include "rx/disposable.h"
#include "rx/error.h"
#include "rx/event.h"
#include "rx/observable.h"
#include "rx/observer.h"
#include "rx/scheduler.h"
#include "rx/single.h"
#include "rx/subjects.h"

// host/core/Classes.h - the Classes unit: components, collections, streams, stored forms,
// string lists and threads.
//
// Each aspect has its own self-contained header; including this one gives all of them, as
// the framework's unit does.
#pragma once

#include "host/core/ClassesCollections.h"
#include "host/core/ClassesComponent.h"
#include "host/core/ClassesStreaming.h"
#include "host/core/ClassesStreams.h"
#include "host/core/ClassesStrings.h"
#include "host/core/ClassesThread.h"

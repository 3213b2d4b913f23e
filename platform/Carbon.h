// Everything the plug-in may call of the platform.
#pragma once

#include "Alerts.h"
#include "AppleEvents.h"
#include "Console.h"
#include "ContextualMenu.h"
#include "CoreFoundation.h"
#include "Events.h"
#include "Files.h"
#include "MacMemory.h"
#include "MacTypes.h"
#include "Processes.h"
#include "Progress.h"

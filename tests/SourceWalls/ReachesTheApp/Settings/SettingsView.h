// A settings header that reaches into the app, which the walls forbid.
#pragma once

#include "App/AppDelegate.h"
#include "UI/MainMenu.h"

// A settings header that reaches into the app, which the walls forbid.
#pragma once

#include "UI/MainMenu.h"
#include "App/AppDelegate.h"

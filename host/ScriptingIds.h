// The plug-in's scripting identity, shared by the resource script (the property list names
// it) and the code (the terminology resource and the descriptors). Plain macros, so that the
// resource compiler reads them too.
#pragma once

#define CORVANEL_TERMINOLOGY_ID 16000
// The suite, the event's class and the event. Invented codes begin with a lower-case letter
// and hold an upper-case one, so they clash with no code of the host's own.
#define CORVANEL_SUITE_ID 0x74735279L /* 'tsRy' */
#define CORVANEL_CLASS_ID CORVANEL_SUITE_ID
#define CORVANEL_EVENT_ID 0x6372566CL /* 'crVl' */
// A unique scope keeps the terminology out of the global AppleScript namespace.
#define CORVANEL_TERMINOLOGY_SCOPE "7dac5d9b-2923-4668-94fb-b913495c2e7e"

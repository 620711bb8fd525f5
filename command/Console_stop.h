// Between the console code shared by both systems and each system's interrupt handler.
#pragma once

// The line SetStopMessage last published; safe inside an interrupt handler.
const char* StopMessage();

// Whether an interrupt at `milliseconds` is a second one rather than the first delivered
// again: the abort was requested half a second or more before.
bool IsSecondInterrupt(double milliseconds);
// Notes the time of the first interrupt.
void NoteFirstInterrupt(double milliseconds);

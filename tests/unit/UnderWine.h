#pragma once

// Whether this test program runs under Wine rather than on Windows itself: for rows that a
// known shortcoming of Wine makes fail there.
bool runningUnderWine();

#pragma once

// Points the settings store at a temporary folder for the rest of the test run, so that
// tests never read or write the user's own saved amplifier address.
void useScratchSettings();

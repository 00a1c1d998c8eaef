#pragma once

// The per-user settings store: the section "MarlowKestrel" under the company key
// "Local AppWizard-Generated Applications" and the application title.
namespace Settings {

// Registers the store's keys for QSettings; called once at start-up (and by tests).
void registerKeys();

// Rows per page; 1000 when the store has no value.
int pageLength();
void setPageLength(int rows);

}  // namespace Settings

// chmtool prints and never shows anything: a machine without a display must do.
#pragma once

// Chooses Qt's offscreen platform when no platform is set and there is no display (no DISPLAY,
// no WAYLAND_DISPLAY): Qt would abort looking for one as the export makes its application. A
// platform the user chose stays. Call before any thread starts: setenv is not safe while another
// thread reads the environment.
void printWithoutADisplay();

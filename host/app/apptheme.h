#pragma once

class QApplication;

// The application's look: Fusion style with a dark palette and a style sheet built from the
// StyleProxy colours.
namespace AppTheme {
void apply(QApplication& app);
}

// The theme file "blue.theme": a Qt style sheet applied to the whole application at start-up.
#pragma once

#include <QString>

// Looks the file up as given (relative to the current directory), then in the program's folder,
// and applies the first one found. Returns the path applied, or an empty text when neither
// exists (the designed look stays).
QString LoadTheme(const QString& fileName);

// AppResources makes the app's compiled-in resources (its icon, the UnRAR
// licence text) reachable. They live in a static library, whose resource
// objects the linker drops unless something refers to them, so every user
// calls initialize() first; it is cheap and may be called any number of times.
//
//   AppResources::initialize();
//   QApplication::setWindowIcon(QIcon(AppResources::iconPath));
#pragma once

#include <QString>

namespace tovani::AppResources {

// The app's own scalable icon.
inline const QString iconPath = QStringLiteral(":/ostrel.svg");
// The licence of the UnRAR library, as its installed package ships it; absent
// when the build found no such file.
inline const QString licensePath = QStringLiteral(":/license.txt");

void initialize();

}  // namespace tovani::AppResources

// What the windows share of files: a file error said in Czech, and a grid-code profile chosen and
// loaded (records/grid_profile.h) with every error of a bad one shown.
#pragma once

#include <QString>
#include <optional>

#include "atomic_file.h"
#include "grid_profile.h"
#include "window_services.h"

class QWidget;

// Why a file operation failed, in Czech, the system's own word in parentheses on a line of its
// own.
QString FileProblemReason(const nx480::FileError& error);
// The error box "WHAT:\nPATH\nREASON".
void ShowFileError(QWidget* parent, const QString& what, const QString& path,
                   const nx480::FileError& error);

// The profiles' file dialog.
FileDialogSpec ProfileFileDialog();
// The profile at `path`, or nullopt after an error box: a file that cannot be read ("Profil
// nelze otevřít"), one too large or with errors ("Chybný profil, nic nezkontrolováno:", the
// first 20 "FILE:LINE: what" and "…a N dalších").
std::optional<nx480::GridProfile> LoadProfileOrSay(QWidget* parent, const QString& path);

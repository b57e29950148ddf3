#include "atomic_file.h"

#include <cerrno>
#include <system_error>

#include "translation.h"

namespace nx480 {

std::string FileProblemText(FileProblem problem) {
  switch (problem) {
    case FileProblem::None:
      return "";
    case FileProblem::NotFound:
      return translate("FileProblem", "Soubor nebo složka neexistuje.");
    case FileProblem::ReadOnly:
      return translate("FileProblem", "Soubor je chráněn proti zápisu (jen pro čtení).");
    case FileProblem::FolderNotWritable:
      return translate("FileProblem",
                       "Do složky nelze zapisovat (chybí oprávnění nebo je disk jen pro čtení).");
    case FileProblem::AccessDenied:
      return translate("FileProblem", "Přístup k souboru byl odepřen.");
    case FileProblem::IsFolder:
      return translate("FileProblem", "Zadaná cesta je složka, ne soubor.");
    case FileProblem::NoSpace:
      return translate("FileProblem", "Na disku není dost místa.");
    case FileProblem::NoReader:
      return translate("FileProblem", "Z roury (FIFO) nikdo nečte.");
    case FileProblem::NotAFile:
      return translate("FileProblem", "Zadaná cesta není obyčejný soubor.");
    case FileProblem::BrokenLink:
      return translate("FileProblem", "Symbolický odkaz nevede k žádnému souboru.");
    case FileProblem::NotAFolder:
      return translate("FileProblem", "V cestě stojí soubor místo složky.");
    case FileProblem::Other:
      return translate("FileProblem", "Chyba při práci se souborem.");
  }
  return "";
}

std::string SystemErrorText(const FileError& error) {
  return error.systemError != 0 ? std::generic_category().message(error.systemError) : "";
}

FileProblem FileProblemOf(int err, bool creating) {
  switch (err) {
    case ENOENT:
      return FileProblem::NotFound;
    case ENOTDIR:
      return FileProblem::NotAFolder;
    case EACCES:
    case EPERM:
      return creating ? FileProblem::FolderNotWritable : FileProblem::AccessDenied;
    case EROFS:
      return FileProblem::FolderNotWritable;
    case EISDIR:
      return FileProblem::IsFolder;
    case EPIPE:
      return FileProblem::NoReader;
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
    case EFBIG:
      return FileProblem::NoSpace;
    default:
      return FileProblem::Other;
  }
}

}  // namespace nx480

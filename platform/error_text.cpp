// System error numbers in words. One table for every system: the POSIX layer reports Win32
// numbers too, so a failure reads the same on Linux and on Windows.
#include "platform/platform.h"

namespace platform {
namespace {

struct ErrorWords {
    uint32_t error;
    const char* text;
};

constexpr ErrorWords kErrorWords[] = {
    {0, "no error was reported"},
    {1, "the operation is not supported here"},
    {kErrorFileNotFound, "the file does not exist"},
    {kErrorPathNotFound, "a folder on the path does not exist"},
    {kErrorTooManyOpenFiles, "too many files are open"},
    {kErrorAccessDenied, "access denied"},
    {6, "the handle is not valid"},
    {kErrorNotEnoughMemory, "not enough memory"},
    {15, "the drive does not exist"},
    {17, "the file cannot be moved to another drive"},
    {kErrorNoMoreFiles, "there are no more files"},
    {19, "the medium is write-protected"},
    {21, "the drive is not ready"},
    {23, "a data error (cyclic redundancy check)"},
    {29, "the device cannot be written to"},
    {30, "the device cannot be read from"},
    {kErrorGenFailure, "a device attached to the system is not working"},
    {kErrorSharingViolation, "the file is in use by another process"},
    {33, "part of the file is locked by another process"},
    {kErrorHandleEof, "the end of the file was reached"},
    {39, "the disk is full"},
    {50, "the request is not supported"},
    {53, "the network path was not found"},
    {kErrorFileExists, "the file exists"},
    {kErrorInvalidParameter, "a parameter is not valid"},
    {kErrorDiskFull, "there is not enough space on the disk"},
    {kErrorInvalidName, "the file, folder or volume name is not valid"},
    {kErrorNegativeSeek, "the position is before the start of the file"},
    {145, "the folder is not empty"},
    {kErrorAlreadyExists, "a file of that name already exists"},
    {206, "the file name or path is too long"},
    {267, "the folder name is not valid"},
    {1113, "a character of the name has no equivalent in the system's code page"},
    {1392, "the file or folder is corrupted and unreadable"},
};

}  // namespace

const char* ErrorText(uint32_t error) {
    for (const ErrorWords& words : kErrorWords)
        if (words.error == error) return words.text;
    return "an unexpected system error";
}

}  // namespace platform

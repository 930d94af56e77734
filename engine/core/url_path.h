// Cleaning and vetting of request paths before they are mapped onto the
// file system. The rules follow what Windows would make of a path, because
// that is where a crafted path could reach a file outside the content root.
#pragma once

#include <string>

namespace brisvane {

// Rewrites `path` in place:
//  - every "\" becomes "/", and runs of "/" collapse into one;
//  - "./" at the start or after a "/" is removed; a whole path of "." becomes
//    empty and a final "/." loses its ".";
//  - each "../" at the start or after a "/" removes itself and the segment
//    before it, leftmost first; with no segment before it, it goes together
//    with the "/" in front of it, so "/../x" becomes the relative "x";
//  - a whole path of ".." becomes empty, and a final "/.." removes itself and
//    the segment before it but keeps that segment's leading "/".
// Runs in linear time, so a hostile path of many "../" costs no more than
// any other path of the same length.
void NormalizePath(std::string& path);

// False for a path that could name something other than the file it seems to
// on Windows: a missing (null) or empty path, a NUL, CR or LF byte (from
// %00, %0d, %0a or an invalid escape), any "...", any "//", an NTFS
// "::$DATA" stream suffix (case-sensitive), a final "." or space, or a
// reserved device name (PRN, CON, AUX, NUL, LPT1-9, COM1-9, any case) as a word
// between "/", "." and space within the first 2047 characters.
// Blank means the space character only: that is what Windows strips from
// the end of a file name.
bool IsSafePath(const std::string* path);

// The check run on the stored, normalised path before dispatch: nullptr when
// the path may be served, otherwise the message for the error log.
const char* UrlRefusal(const std::string& path);

}  // namespace brisvane

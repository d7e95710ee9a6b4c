// The value of one hexadecimal digit, shared by the parsers of several layers.
// A pure function; any thread.
#pragma once

// 0 to 15 for '0'-'9', 'a'-'f' and 'A'-'F'; -1 for any other character.
constexpr int HexDigit(char AChar) {
    if (AChar >= '0' && AChar <= '9')
        return AChar - '0';
    if (AChar >= 'a' && AChar <= 'f')
        return AChar - 'a' + 10;
    if (AChar >= 'A' && AChar <= 'F')
        return AChar - 'A' + 10;
    return -1;
}

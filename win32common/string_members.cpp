// The library's string classes, instantiated in this program with one
// section per member, so that the linker keeps only the members the program
// calls. The library's prebuilt copies come as one block per string type
// (about 20 KB of code and 14 KB of unwind tables each on i686).
#include <string>

template class std::basic_string<char>;
template class std::basic_string<wchar_t>;

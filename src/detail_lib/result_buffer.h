// Where the detail library keeps each thread's last answer: text that must
// outlive the call that made it, for that thread only.
#ifndef RAMINFO_DETAIL_LIB_RESULT_BUFFER_H
#define RAMINFO_DETAIL_LIB_RESULT_BUFFER_H

#include <string>

// The calling thread's buffer, made on its first call; NULL when it cannot
// be had (no memory). On Linux a thread_local string, freed as the thread
// ends; on Windows a TLS slot of the DLL (win/dllmain.cpp), because a
// thread_local with a destructor in a DLL built on mingw's static runtime
// would have that destructor called after FreeLibrary has unmapped it.
std::string* detail_result_buffer();

#endif

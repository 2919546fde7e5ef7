// Callers in COM apartments of either model, as WMDM applications are.
#pragma once

#include <gtest/gtest.h>
#include <objbase.h>
#include <windows.h>

#include <functional>
#include <thread>

// Runs body on a thread of its own that has joined COM with the given model.
inline void InApartment(DWORD model, const std::function<void()>& body) {
  std::thread([&] {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, model)));
    body();
    CoUninitialize();
  }).join();
}

// An apartment-threaded caller keeps its message loop running while it waits.
inline void WaitPumping(HANDLE event) {
  while (MsgWaitForMultipleObjects(1, &event, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
  }
}

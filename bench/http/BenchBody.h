#pragma once

// The body both benchmark servers answer with.
inline constexpr const char* benchBody = "Hello, World! This is the body that both servers send.";

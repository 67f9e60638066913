#pragma once
// The resource id of the window program's icon (Kestrin.rc), which its
// windows load for their frame and task bar button.
#define IDI_Kestrin 100

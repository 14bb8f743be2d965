// Sends files over a COM port with ZModem through the tollan component, early-bound: the
// IQuill32 interface through its table of functions, with the header and identifiers in
// include/.
//
//   host                                   shows the settings a run would use
//   host 3 C:\out\report.txt C:\out\b.bin  sends the files over COM3
//
// Build it with mingw-w64 (x86_64-w64-mingw32-g++ for x64, i686-w64-mingw32-g++ for x86):
//   x86_64-w64-mingw32-g++ -O2 -I../include host.cpp ../include/tollan_i.c -o host.exe
//       -static -lole32 -loleaut32 -luuid
// or with Visual C++ from a developer command prompt of the bitness wanted:
//   cl /EHsc /I..\include host.cpp ..\include\tollan_i.c ole32.lib oleaut32.lib
// The program's bitness decides which DLL it loads (see registration.txt).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tollan.h"

int main(int argc, char** argv) {
    if (FAILED(CoInitialize(nullptr))) {
        return 1;
    }
    IQuill32* q = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_Quill32, nullptr, CLSCTX_INPROC_SERVER, IID_IQuill32,
                                  reinterpret_cast<void**>(&q));
    if (FAILED(hr)) {
        std::printf("Quill32 is not registered for a %d-bit host (0x%08lx)\n",
                    static_cast<int>(sizeof(void*) * 8), static_cast<unsigned long>(hr));
        CoUninitialize();
        return 1;
    }

    q->Reset(2); // ZModem with RTS/CTS flow control
    short port = 0, protocol = 0, flow = 0;
    long baud = 0;
    q->get_Port(&port);
    q->get_BaudRate(&baud);
    q->get_Protocol(&protocol);
    q->get_FlowControl(&flow);
    const char* protocols[] = {"XModem", "ZModem", "ACK/NAK"};
    const char* flows[] = {"none", "XON/XOFF", "RTS/CTS"};
    std::printf("Quill32: port COM%d, %ld bit/s, protocol %s, flow control %s\n", port, baud,
                protocols[protocol], flows[flow]);

    int status = 0;
    if (argc >= 3) {
        // The file list is one text of names separated by semicolons.
        std::string files = argv[2];
        for (int i = 3; i < argc; ++i) {
            files += ';';
            files += argv[i];
        }
        std::wstring wide(files.size(), L'\0');
        wide.resize(MultiByteToWideChar(CP_ACP, 0, files.c_str(), static_cast<int>(files.size()),
                                        &wide[0], static_cast<int>(wide.size())));
        BSTR list = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
        q->put_Port(static_cast<short>(std::atoi(argv[1])));
        q->put_FileList(list);
        SysFreeString(list);
        q->put_Transfer(1); // send (0: receive into DefaultDir)

        long result = 0;
        short attempted = 0, transferred = 0;
        q->TransferFiles(0, 1, &result); // no file prompt; show errors
        q->get_Attempted(&attempted);
        q->get_Transferred(&transferred);
        status = static_cast<int>(result & 0xFFFF);
        std::printf("result %d: %d of %d files sent\n", status, transferred, attempted);
    }
    q->Release();
    CoUninitialize();
    return status;
}

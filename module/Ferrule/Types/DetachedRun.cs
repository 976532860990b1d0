using System;
using System.ComponentModel;
using System.IO;
using System.Runtime.InteropServices;
using System.Text;
using Microsoft.Win32.SafeHandles;
namespace Ferrule {
    public static class DetachedRun {
        [StructLayout(LayoutKind.Sequential, CharSet = CharSet.Unicode)]
        struct StartupInfo {
            public int cb; public string lpReserved, lpDesktop, lpTitle;
            public int dwX, dwY, dwXSize, dwYSize, dwXCountChars, dwYCountChars, dwFillAttribute, dwFlags;
            public short wShowWindow, cbReserved2;
            public IntPtr lpReserved2, hStdInput, hStdOutput, hStdError;
        }
        [StructLayout(LayoutKind.Sequential)]
        struct ProcessInformation { public IntPtr hProcess, hThread; public int dwProcessId, dwThreadId; }
        [StructLayout(LayoutKind.Sequential)]
        struct SecurityAttributes {
            public int nLength; public IntPtr lpSecurityDescriptor; public bool bInheritHandle;
        }
        [DllImport("kernel32.dll", SetLastError = true)]
        static extern bool CreatePipe(out IntPtr read, out IntPtr write, ref SecurityAttributes attributes, int size);
        [DllImport("kernel32.dll", SetLastError = true)]
        static extern bool SetHandleInformation(IntPtr handle, int mask, int flags);
        [DllImport("kernel32.dll", SetLastError = true, CharSet = CharSet.Unicode)]
        static extern bool CreateProcessW(string application, StringBuilder commandLine, IntPtr processAttributes,
            IntPtr threadAttributes, bool inheritHandles, int flags, IntPtr environment, string directory,
            ref StartupInfo startup, out ProcessInformation information);
        [DllImport("kernel32.dll", SetLastError = true)]
        static extern bool CloseHandle(IntPtr handle);
        [DllImport("kernel32.dll")]
        static extern int WaitForSingleObject(IntPtr handle, int milliseconds);
        [DllImport("kernel32.dll", SetLastError = true)]
        static extern bool GetExitCodeProcess(IntPtr process, out int code);

        // Runs the program with no console at all, its output through a pipe:
        // returns its exit status, and its output read in encoding.
        public static int Run(string path, string arguments, Encoding encoding, out string output) {
            SecurityAttributes attributes = new SecurityAttributes();
            attributes.nLength = Marshal.SizeOf(attributes);
            attributes.bInheritHandle = true;
            IntPtr read, write;
            if (!CreatePipe(out read, out write, ref attributes, 0)) throw new Win32Exception();
            SafeFileHandle reader = new SafeFileHandle(read, true);
            try {
                SetHandleInformation(read, 1, 0);
                StartupInfo startup = new StartupInfo();
                startup.cb = Marshal.SizeOf(startup);
                startup.dwFlags = 0x100;
                startup.hStdOutput = write;
                startup.hStdError = write;
                ProcessInformation information;
                bool started = CreateProcessW(path, new StringBuilder("\"" + path + "\" " + arguments), IntPtr.Zero,
                    IntPtr.Zero, true, 0x8, IntPtr.Zero, null, ref startup, out information);
                int error = Marshal.GetLastWin32Error();
                CloseHandle(write);
                write = IntPtr.Zero;
                if (!started) throw new Win32Exception(error);
                try {
                    using (FileStream stream = new FileStream(reader, FileAccess.Read))
                    using (StreamReader text = new StreamReader(stream, encoding)) {
                        output = text.ReadToEnd();
                    }
                    WaitForSingleObject(information.hProcess, -1);
                    int code;
                    GetExitCodeProcess(information.hProcess, out code);
                    return code;
                } finally {
                    CloseHandle(information.hProcess);
                    CloseHandle(information.hThread);
                }
            } finally {
                if (write != IntPtr.Zero) CloseHandle(write);
                reader.Dispose();
            }
        }
    }
}

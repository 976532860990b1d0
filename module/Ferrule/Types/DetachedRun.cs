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
        struct StartupInfoEx { public StartupInfo StartupInfo; public IntPtr lpAttributeList; }
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
        [DllImport("kernel32.dll", SetLastError = true)]
        static extern bool InitializeProcThreadAttributeList(IntPtr list, int count, int flags, ref IntPtr size);
        [DllImport("kernel32.dll", SetLastError = true)]
        static extern bool UpdateProcThreadAttribute(IntPtr list, int flags, IntPtr attribute, IntPtr value,
            IntPtr size, IntPtr previous, IntPtr returnSize);
        [DllImport("kernel32.dll")]
        static extern void DeleteProcThreadAttributeList(IntPtr list);
        [DllImport("kernel32.dll", SetLastError = true, CharSet = CharSet.Unicode)]
        static extern bool CreateProcessW(string application, StringBuilder commandLine, IntPtr processAttributes,
            IntPtr threadAttributes, bool inheritHandles, int flags, IntPtr environment, string directory,
            ref StartupInfoEx startup, out ProcessInformation information);
        [DllImport("kernel32.dll", SetLastError = true)]
        static extern bool CloseHandle(IntPtr handle);
        [DllImport("kernel32.dll")]
        static extern int WaitForSingleObject(IntPtr handle, int milliseconds);
        [DllImport("kernel32.dll", SetLastError = true)]
        static extern bool GetExitCodeProcess(IntPtr process, out int code);
        [DllImport("kernel32.dll", SetLastError = true, CharSet = CharSet.Unicode)]
        static extern int GetFinalPathNameByHandleW(SafeFileHandle file, StringBuilder path, int size, int flags);

        const int DetachedProcess = 0x8, ExtendedStartupInfoPresent = 0x80000, UseStdHandles = 0x100;
        static readonly IntPtr HandleListAttribute = (IntPtr)0x20002;

        // The path of the file that handle holds open, with every junction and
        // link resolved, in the form that starts a program: C:\... or \\server\...
        public static string FinalPath(SafeFileHandle file) {
            StringBuilder path = new StringBuilder(1024);
            int length = GetFinalPathNameByHandleW(file, path, path.Capacity, 0);
            if (length >= path.Capacity) {
                path = new StringBuilder(length + 1);
                length = GetFinalPathNameByHandleW(file, path, path.Capacity, 0);
            }
            if (length <= 0 || length >= path.Capacity) throw new Win32Exception();
            string final = path.ToString();
            if (final.StartsWith(@"\\?\UNC\")) return @"\" + final.Substring(7);
            if (final.StartsWith(@"\\?\")) return final.Substring(4);
            return final;
        }

        // Runs the program with no console at all, its output through a pipe,
        // whose write end is the one handle it inherits: returns its exit
        // status, and its output read in encoding.
        public static int Run(string path, string arguments, Encoding encoding, out string output) {
            SecurityAttributes attributes = new SecurityAttributes();
            attributes.nLength = Marshal.SizeOf(attributes);
            attributes.bInheritHandle = true;
            IntPtr read, write;
            if (!CreatePipe(out read, out write, ref attributes, 0)) throw new Win32Exception();
            SafeFileHandle reader = new SafeFileHandle(read, true);
            IntPtr list = IntPtr.Zero, handles = IntPtr.Zero;
            try {
                SetHandleInformation(read, 1, 0);
                IntPtr size = IntPtr.Zero;
                InitializeProcThreadAttributeList(IntPtr.Zero, 1, 0, ref size);
                list = Marshal.AllocHGlobal(size);
                if (!InitializeProcThreadAttributeList(list, 1, 0, ref size)) {
                    Marshal.FreeHGlobal(list);
                    list = IntPtr.Zero;
                    throw new Win32Exception();
                }
                handles = Marshal.AllocHGlobal(IntPtr.Size);
                Marshal.WriteIntPtr(handles, write);
                if (!UpdateProcThreadAttribute(list, 0, HandleListAttribute, handles, (IntPtr)IntPtr.Size, IntPtr.Zero,
                    IntPtr.Zero)) throw new Win32Exception();
                StartupInfoEx startup = new StartupInfoEx();
                startup.StartupInfo.cb = Marshal.SizeOf(startup);
                startup.StartupInfo.dwFlags = UseStdHandles;
                startup.StartupInfo.hStdOutput = write;
                startup.StartupInfo.hStdError = write;
                startup.lpAttributeList = list;
                ProcessInformation information;
                bool started = CreateProcessW(path, new StringBuilder("\"" + path + "\" " + arguments), IntPtr.Zero,
                    IntPtr.Zero, true, DetachedProcess | ExtendedStartupInfoPresent, IntPtr.Zero, null, ref startup,
                    out information);
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
                if (list != IntPtr.Zero) {
                    DeleteProcThreadAttributeList(list);
                    Marshal.FreeHGlobal(list);
                }
                if (handles != IntPtr.Zero) Marshal.FreeHGlobal(handles);
                reader.Dispose();
            }
        }
    }
}

// Owners of the Win32, COM and GDI+ resources the window code makes for a moment: each frees what it
// holds when it goes out of scope, so a function with several ways out states the happy path once and
// cannot leak on the others. The objects the window keeps for its whole life (the back buffer, the
// skin slots) are not scoped: they go with the process.
#pragma once

#include <windows.h>

// GDI+'s headers want these, which the lean Windows headers and NOMINMAX leave out.
#include <objidl.h>

#include <algorithm>
using std::max;
using std::min;
#include <gdiplus.h>

#include <cstring>

namespace window {

// Moves only: every owner frees exactly once.
class NoCopy {
protected:
    NoCopy() = default;
    NoCopy(const NoCopy&) = delete;
    NoCopy& operator=(const NoCopy&) = delete;
};

// A GDI object (brush, bitmap, font) made by this code, deleted with DeleteObject. release() hands it
// on to a caller that keeps it.
template <typename Handle>
class ScopedGdiObject : NoCopy {
public:
    explicit ScopedGdiObject(Handle handle = nullptr) : handle_(handle) {}
    ~ScopedGdiObject() {
        if (handle_) DeleteObject(handle_);
    }
    Handle get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }
    Handle release() {
        Handle h = handle_;
        handle_ = nullptr;
        return h;
    }

private:
    Handle handle_;
};

// An object selected into a DC for a scope; the DC's previous object is selected back at the end.
class ScopedSelect : NoCopy {
public:
    ScopedSelect(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
    ~ScopedSelect() {
        if (previous_ && previous_ != HGDI_ERROR) SelectObject(dc_, previous_);
    }

private:
    HDC dc_;
    HGDIOBJ previous_;
};

// The DC of a window (null: the screen) from GetDC, given back with ReleaseDC.
class ScopedGetDc : NoCopy {
public:
    explicit ScopedGetDc(HWND window = nullptr) : window_(window), dc_(GetDC(window)) {}
    ~ScopedGetDc() {
        if (dc_) ReleaseDC(window_, dc_);
    }
    HDC get() const { return dc_; }

private:
    HWND window_;
    HDC dc_;
};

// A paint: BeginPaint on creation, EndPaint at the end.
class ScopedPaint : NoCopy {
public:
    explicit ScopedPaint(HWND window) : window_(window), dc_(BeginPaint(window, &paint_)) {}
    ~ScopedPaint() { EndPaint(window_, &paint_); }
    HDC dc() const { return dc_; }

private:
    HWND window_;
    PAINTSTRUCT paint_;
    HDC dc_;
};

// A COM interface pointer, released at the end. out() is for the call that fills it.
template <typename Interface>
class ScopedComPtr : NoCopy {
public:
    ScopedComPtr() = default;
    ~ScopedComPtr() {
        if (pointer_) pointer_->Release();
    }
    Interface* get() const { return pointer_; }
    Interface** out() { return &pointer_; }
    explicit operator bool() const { return pointer_ != nullptr; }

private:
    Interface* pointer_ = nullptr;
};

// A block of global memory (GlobalAlloc), freed with GlobalFree.
class ScopedGlobal : NoCopy {
public:
    ScopedGlobal(UINT flags, SIZE_T size) : block_(GlobalAlloc(flags, size)) {}
    ~ScopedGlobal() {
        if (block_) GlobalFree(block_);
    }
    HGLOBAL get() const { return block_; }
    explicit operator bool() const { return block_ != nullptr; }
    // Copies `size` bytes to the start of the block through a lock. False when it cannot be locked.
    bool fill(const void* data, SIZE_T size) {
        void* target = GlobalLock(block_);
        if (!target) return false;
        std::memcpy(target, data, size);
        GlobalUnlock(block_);
        return true;
    }

private:
    HGLOBAL block_;
};

// A GDI+ image (or bitmap), disposed with GdipDisposeImage.
template <typename Image>
class ScopedGdiplusImage : NoCopy {
public:
    ScopedGdiplusImage() = default;
    ~ScopedGdiplusImage() {
        if (image_) Gdiplus::DllExports::GdipDisposeImage(image_);
    }
    Image* get() const { return image_; }
    Image** out() { return &image_; }
    explicit operator bool() const { return image_ != nullptr; }

private:
    Image* image_ = nullptr;
};

// The pixels of a GDI+ bitmap locked for reading in `format`; unlocked at the end. ok() says whether
// the lock was had.
class ScopedBitmapBits : NoCopy {
public:
    ScopedBitmapBits(Gdiplus::GpBitmap* bitmap, const Gdiplus::GpRect& area, Gdiplus::PixelFormat format)
        : bitmap_(bitmap),
          locked_(Gdiplus::DllExports::GdipBitmapLockBits(bitmap, &area, Gdiplus::ImageLockModeRead, format, &data_) ==
                  Gdiplus::Ok) {}
    ~ScopedBitmapBits() {
        if (locked_) Gdiplus::DllExports::GdipBitmapUnlockBits(bitmap_, &data_);
    }
    bool ok() const { return locked_; }
    const Gdiplus::BitmapData& data() const { return data_; }

private:
    Gdiplus::GpBitmap* bitmap_;
    Gdiplus::BitmapData data_{};
    bool locked_;
};

// GDI+ started for a scope and shut down at its end. started() says whether the start-up worked.
class GdiplusSession : NoCopy {
public:
    GdiplusSession() {
        Gdiplus::GdiplusStartupInput input;
        started_ = Gdiplus::GdiplusStartup(&token_, &input, nullptr) == Gdiplus::Ok;
    }
    ~GdiplusSession() {
        if (started_) Gdiplus::GdiplusShutdown(token_);
    }
    bool started() const { return started_; }

private:
    ULONG_PTR token_ = 0;
    bool started_ = false;
};

}  // namespace window

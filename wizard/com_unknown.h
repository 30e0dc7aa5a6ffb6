// IUnknown written once for the agreement view's COM objects (the OLE site and the browser's
// event sink): a reference count that deletes the object at zero, and QueryInterface answered
// from the object's own list of the interfaces it shows.
#pragma once

#include <unknwn.h>

#include <atomic>
#include <initializer_list>

namespace wizard {

// One interface an object shows: its id and the object seen as that interface.
struct ComFace {
  const IID& iid;
  IUnknown* face;
};

// Fills out with the face of iid and adds a reference to it; E_NOINTERFACE (out null) for an
// interface the object does not show.
inline HRESULT answerQuery(REFIID iid, void** out, std::initializer_list<ComFace> faces) {
  if (!out) return E_POINTER;
  for (const ComFace& f : faces) {
    if (IsEqualIID(iid, f.iid)) {
      *out = f.face;
      f.face->AddRef();
      return S_OK;
    }
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

// The reference count of an object made with new; it starts at 1, the creator's reference.
template <class Object>
class ComRefCount {
 public:
  ULONG addRef() { return static_cast<ULONG>(++count_); }
  ULONG release(Object* object) {
    const long left = --count_;
    if (left == 0) delete object;
    return static_cast<ULONG>(left);
  }

 private:
  std::atomic<long> count_{1};
};

}  // namespace wizard

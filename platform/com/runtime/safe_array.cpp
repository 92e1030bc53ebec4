// Automation arrays: the SafeArray* calls over the platform's SAFEARRAY layout.
//
// An array this runtime creates is one allocation for the descriptor, with a 16-byte
// prefix before it in which the element type is kept (FADF_HAVEVARTYPE: the type sits in
// the 4 bytes just before the descriptor, where clients of the platform look for it), and
// one for the elements. Arrays a client lays out itself (FADF_AUTO, FADF_STATIC,
// FADF_EMBEDDED) are never freed here, only emptied.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "orvan/component_runtime.h"

namespace {

constexpr UINT kMaxDims = 60;
constexpr std::size_t kPrefix = 16;
constexpr ULONG kMaxLocks = 0xFFFF;
constexpr USHORT kNotOurs = FADF_AUTO | FADF_STATIC | FADF_EMBEDDED;

// Bytes per element of each type an array may hold; 0 for any other.
ULONG element_size(VARTYPE vt) {
  switch (vt) {
    case VT_I1:
    case VT_UI1:
      return 1;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
      return 2;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_R4:
    case VT_ERROR:
      return 4;
    case VT_I8:
    case VT_UI8:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
      return 8;
    case VT_BSTR:
    case VT_UNKNOWN:
    case VT_DISPATCH:
      return sizeof(void*);
    case VT_DECIMAL:
      return 16;
    case VT_VARIANT:
      return sizeof(VARIANT);
    default:
      return 0;
  }
}

USHORT features_of(VARTYPE vt) {
  switch (vt) {
    case VT_BSTR:
      return FADF_HAVEVARTYPE | FADF_BSTR;
    case VT_UNKNOWN:
      return FADF_HAVEVARTYPE | FADF_UNKNOWN;
    case VT_DISPATCH:
      return FADF_HAVEVARTYPE | FADF_DISPATCH;
    case VT_VARIANT:
      return FADF_HAVEVARTYPE | FADF_VARIANT;
    default:
      return FADF_HAVEVARTYPE;
  }
}

VARTYPE& stored_type(SAFEARRAY* array) {
  return *reinterpret_cast<VARTYPE*>(reinterpret_cast<unsigned char*>(array) - 4);
}

// Elements in all; false when the count or its bytes overflow what memory can hold.
bool count_elements(const SAFEARRAY* array, std::size_t& count) {
  count = 1;
  for (USHORT d = 0; d < array->cDims; ++d) {
    const std::size_t n = array->rgsabound[d].cElements;
    if (n != 0 && count > SIZE_MAX / n) return false;
    count *= n;
  }
  return array->cbElements == 0 || count <= SIZE_MAX / array->cbElements;
}

std::size_t descriptor_bytes(UINT dims) {
  return sizeof(SAFEARRAY) + (dims - 1) * sizeof(SAFEARRAYBOUND);
}

// Frees what elements [first, first + count) own and zeroes them.
void clear_elements(SAFEARRAY* array, std::size_t first, std::size_t count) {
  if (!array->pvData || count == 0) return;
  auto* bytes = static_cast<unsigned char*>(array->pvData) + first * array->cbElements;
  if (array->fFeatures & FADF_BSTR) {
    auto* strings = reinterpret_cast<BSTR*>(bytes);
    for (std::size_t i = 0; i < count; ++i) SysFreeString(strings[i]);
  } else if (array->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
    auto* objects = reinterpret_cast<IUnknown**>(bytes);
    for (std::size_t i = 0; i < count; ++i) {
      if (objects[i]) objects[i]->Release();
    }
  } else if (array->fFeatures & FADF_VARIANT) {
    auto* values = reinterpret_cast<VARIANT*>(bytes);
    for (std::size_t i = 0; i < count; ++i) VariantClear(&values[i]);
  }
  std::memset(bytes, 0, count * array->cbElements);
}

// Copies `count` elements from `from` into zeroed `to`, owning copies of what they own.
// On failure the elements copied so far stay in `to` for the caller to clear.
HRESULT copy_elements(const SAFEARRAY* array, const void* from, void* to, std::size_t count) {
  const std::size_t bytes = count * array->cbElements;
  if (array->fFeatures & FADF_BSTR) {
    const auto* in = static_cast<const BSTR*>(from);
    auto* out = static_cast<BSTR*>(to);
    for (std::size_t i = 0; i < count; ++i) {
      if (!in[i]) continue;
      out[i] = SysAllocStringByteLen(reinterpret_cast<const char*>(in[i]), SysStringByteLen(in[i]));
      if (!out[i]) return E_OUTOFMEMORY;
    }
  } else if (array->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
    std::memcpy(to, from, bytes);
    auto* objects = static_cast<IUnknown**>(to);
    for (std::size_t i = 0; i < count; ++i) {
      if (objects[i]) objects[i]->AddRef();
    }
  } else if (array->fFeatures & FADF_VARIANT) {
    const auto* in = static_cast<const VARIANT*>(from);
    auto* out = static_cast<VARIANT*>(to);
    for (std::size_t i = 0; i < count; ++i) {
      if (const HRESULT hr = VariantCopy(&out[i], &in[i]); FAILED(hr)) return hr;
    }
  } else if (bytes) {
    std::memcpy(to, from, bytes);
  }
  return S_OK;
}

bool same_shape(const SAFEARRAY* a, const SAFEARRAY* b) {
  if (a->cDims != b->cDims || a->cbElements != b->cbElements) return false;
  for (USHORT d = 0; d < a->cDims; ++d) {
    if (a->rgsabound[d].cElements != b->rgsabound[d].cElements) return false;
  }
  constexpr USHORT kKinds = FADF_BSTR | FADF_UNKNOWN | FADF_DISPATCH | FADF_VARIANT;
  return (a->fFeatures & kKinds) == (b->fFeatures & kKinds);
}

// The caller's dimension `dim` (from 1) in the stored order, or null.
const SAFEARRAYBOUND* bound_of(const SAFEARRAY* array, UINT dim) {
  if (dim == 0 || dim > array->cDims) return nullptr;
  return &array->rgsabound[array->cDims - dim];
}

}  // namespace

extern "C" SAFEARRAY* SafeArrayCreate(VARTYPE type, UINT dims, SAFEARRAYBOUND* bounds) {
  const ULONG size = element_size(type);
  if (size == 0 || dims == 0 || dims > kMaxDims || !bounds) return nullptr;
  void* block = std::calloc(1, kPrefix + descriptor_bytes(dims));
  if (!block) return nullptr;
  auto* array = reinterpret_cast<SAFEARRAY*>(static_cast<unsigned char*>(block) + kPrefix);
  array->cDims = static_cast<USHORT>(dims);
  array->fFeatures = features_of(type);
  array->cbElements = size;
  for (UINT d = 0; d < dims; ++d) array->rgsabound[dims - 1 - d] = bounds[d];
  stored_type(array) = type;
  std::size_t count = 0;
  if (!count_elements(array, count)) {
    std::free(block);
    return nullptr;
  }
  // One byte at least, so that an empty array still has somewhere to point.
  array->pvData = std::calloc(count ? count : 1, size);
  if (!array->pvData) {
    std::free(block);
    return nullptr;
  }
  return array;
}

extern "C" SAFEARRAY* SafeArrayCreateVector(VARTYPE type, LONG lower_bound, ULONG elements) {
  SAFEARRAYBOUND bound{elements, lower_bound};
  return SafeArrayCreate(type, 1, &bound);
}

extern "C" HRESULT SafeArrayDestroy(SAFEARRAY* array) {
  if (!array) return S_OK;
  if (array->cLocks > 0) return DISP_E_ARRAYISLOCKED;
  std::size_t count = 0;
  if (count_elements(array, count)) clear_elements(array, 0, count);
  if (array->fFeatures & kNotOurs) return S_OK;
  std::free(array->pvData);
  std::free(reinterpret_cast<unsigned char*>(array) - kPrefix);
  return S_OK;
}

extern "C" UINT SafeArrayGetDim(SAFEARRAY* array) {
  return array ? array->cDims : 0;
}

extern "C" UINT SafeArrayGetElemsize(SAFEARRAY* array) {
  return array ? array->cbElements : 0;
}

extern "C" HRESULT SafeArrayGetLBound(SAFEARRAY* array, UINT dim, LONG* lower_bound) {
  if (!array || !lower_bound) return E_INVALIDARG;
  const SAFEARRAYBOUND* bound = bound_of(array, dim);
  if (!bound) return DISP_E_BADINDEX;
  *lower_bound = bound->lLbound;
  return S_OK;
}

extern "C" HRESULT SafeArrayGetUBound(SAFEARRAY* array, UINT dim, LONG* upper_bound) {
  if (!array || !upper_bound) return E_INVALIDARG;
  const SAFEARRAYBOUND* bound = bound_of(array, dim);
  if (!bound) return DISP_E_BADINDEX;
  *upper_bound = static_cast<LONG>(static_cast<std::int64_t>(bound->lLbound) +
                                   static_cast<std::int64_t>(bound->cElements) - 1);
  return S_OK;
}

extern "C" HRESULT SafeArrayGetVartype(SAFEARRAY* array, VARTYPE* type) {
  if (!array || !type) return E_INVALIDARG;
  if (array->fFeatures & FADF_HAVEVARTYPE) {
    *type = stored_type(array);
  } else if (array->fFeatures & FADF_BSTR) {
    *type = VT_BSTR;
  } else if (array->fFeatures & FADF_UNKNOWN) {
    *type = VT_UNKNOWN;
  } else if (array->fFeatures & FADF_DISPATCH) {
    *type = VT_DISPATCH;
  } else if (array->fFeatures & FADF_VARIANT) {
    *type = VT_VARIANT;
  } else {
    return E_INVALIDARG;
  }
  return S_OK;
}

extern "C" HRESULT SafeArrayLock(SAFEARRAY* array) {
  if (!array) return E_INVALIDARG;
  if (array->cLocks >= kMaxLocks) return E_UNEXPECTED;
  ++array->cLocks;
  return S_OK;
}

extern "C" HRESULT SafeArrayUnlock(SAFEARRAY* array) {
  if (!array) return E_INVALIDARG;
  if (array->cLocks == 0) return E_UNEXPECTED;
  --array->cLocks;
  return S_OK;
}

extern "C" HRESULT SafeArrayAccessData(SAFEARRAY* array, void** data) {
  if (!array || !data) return E_INVALIDARG;
  if (const HRESULT hr = SafeArrayLock(array); FAILED(hr)) return hr;
  *data = array->pvData;
  return S_OK;
}

extern "C" HRESULT SafeArrayUnaccessData(SAFEARRAY* array) {
  return SafeArrayUnlock(array);
}

extern "C" HRESULT SafeArrayCopyData(SAFEARRAY* source, SAFEARRAY* destination) {
  if (!source || !destination || !same_shape(source, destination)) return E_INVALIDARG;
  if (source == destination) return S_OK;
  std::size_t count = 0;
  if (!count_elements(source, count)) return E_INVALIDARG;
  clear_elements(destination, 0, count);
  const HRESULT hr = copy_elements(source, source->pvData, destination->pvData, count);
  if (FAILED(hr)) clear_elements(destination, 0, count);
  return hr;
}

extern "C" HRESULT SafeArrayCopy(SAFEARRAY* source, SAFEARRAY** copy) {
  if (!copy) return E_INVALIDARG;
  *copy = nullptr;
  if (!source) return S_OK;
  if (source->cDims == 0 || source->cDims > kMaxDims) return E_INVALIDARG;
  VARTYPE type = VT_EMPTY;
  if (FAILED(SafeArrayGetVartype(source, &type)) || element_size(type) != source->cbElements) {
    return E_INVALIDARG;
  }
  SAFEARRAYBOUND bounds[kMaxDims];
  for (UINT d = 0; d < source->cDims; ++d) {
    bounds[d] = source->rgsabound[source->cDims - 1 - d];
  }
  SAFEARRAY* made = SafeArrayCreate(type, source->cDims, bounds);
  if (!made) return E_OUTOFMEMORY;
  if (const HRESULT hr = SafeArrayCopyData(source, made); FAILED(hr)) {
    SafeArrayDestroy(made);
    return hr;
  }
  *copy = made;
  return S_OK;
}

extern "C" HRESULT SafeArrayRedim(SAFEARRAY* array, SAFEARRAYBOUND* last_bound) {
  if (!array || !last_bound) return E_INVALIDARG;
  if (array->cLocks > 0) return DISP_E_ARRAYISLOCKED;
  if (array->fFeatures & (FADF_FIXEDSIZE | kNotOurs)) return E_INVALIDARG;
  // The last dimension varies slowest, so its elements are the tail of the block.
  std::size_t old_count = 0;
  if (!count_elements(array, old_count)) return E_INVALIDARG;
  const SAFEARRAYBOUND before = array->rgsabound[0];
  array->rgsabound[0] = *last_bound;
  std::size_t new_count = 0;
  if (!count_elements(array, new_count)) {
    array->rgsabound[0] = before;
    return E_OUTOFMEMORY;
  }
  if (new_count > old_count) {
    void* grown = std::realloc(array->pvData, new_count * array->cbElements);
    if (!grown) {
      array->rgsabound[0] = before;
      return E_OUTOFMEMORY;
    }
    std::memset(static_cast<unsigned char*>(grown) + old_count * array->cbElements, 0,
                (new_count - old_count) * array->cbElements);
    array->pvData = grown;
  } else {
    clear_elements(array, new_count, old_count - new_count);
  }
  return S_OK;
}

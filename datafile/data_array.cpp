#include <cstdint>
#include <type_traits>

#include "common/alloc.h"
#include "common/errors.h"
#include "datafile/data_header.h"

namespace mf {

namespace {

int64_t frames_of(const data_array&) { return 1; }
int64_t frames_of(const intensity_array& a) { return a.frames; }

template <typename Array>
using element_of = std::remove_pointer_t<decltype(Array::data)>;

template <typename Array>
int32_t alloc_array(Array* array) {
    if (!array) return ERR_INVALID_PARAM;
    // A negative dimension would become a huge unsigned count: refuse it as a shape error.
    int64_t count = int64_t{array->width} * array->height * frames_of(*array);
    if (array->width < 0 || array->height < 0 || frames_of(*array) < 0 || count == 0 || count > INT32_MAX)
        return ERR_PARAM_OUT_OF_RANGE;
    array->data = static_cast<element_of<Array>*>(u_malloc(static_cast<size_t>(count) * sizeof(element_of<Array>)));
    if (!array->data) {
        array->capacity = 0;
        return ERR_NO_MEM;
    }
    array->capacity = static_cast<int32_t>(count);
    return 0;
}

template <typename Array>
void release_array(Array* array) {
    if (!array) return;
    u_free(array->data);
    array->data = nullptr;
    array->capacity = 0;
    array->width = 0;
    array->height = 0;
}

template <typename Array>
int32_t reshape_array(Array* array, int16_t origin_x, int16_t origin_y, int16_t width, int16_t height,
                      bool keep_storage) {
    if (!array) return ERR_INVALID_PARAM;
    if (!array->data) array->capacity = 0;
    int64_t count = int64_t{width} * height * frames_of(*array);
    if (width < 0 || height < 0 || count > INT32_MAX) return ERR_PARAM_OUT_OF_RANGE;
    if (count == 0) {
        u_free(array->data);
        array->data = nullptr;
        array->capacity = 0;
        return 0;
    }
    if (count > array->capacity || (count < array->capacity && !keep_storage)) {
        u_free(array->data);
        array->data = static_cast<element_of<Array>*>(u_malloc(static_cast<size_t>(count) * sizeof(element_of<Array>)));
        if (!array->data) {
            array->capacity = 0;
            return ERR_NO_MEM;
        }
        array->capacity = static_cast<int32_t>(count);
    }
    array->origin_x = origin_x;
    array->origin_y = origin_y;
    array->width = width;
    array->height = height;
    return 0;
}

}  // namespace

int32_t da_alloc(data_array* array) { return alloc_array(array); }
int32_t da_alloc(intensity_array* array) { return alloc_array(array); }

int32_t da_reshape(data_array* array, int16_t ox, int16_t oy, int16_t width, int16_t height, bool keep_storage) {
    return reshape_array(array, ox, oy, width, height, keep_storage);
}
int32_t da_reshape(intensity_array* array, int16_t ox, int16_t oy, int16_t width, int16_t height, bool keep_storage) {
    return reshape_array(array, ox, oy, width, height, keep_storage);
}

void da_release(data_array* array) { release_array(array); }
void da_release(intensity_array* array) { release_array(array); }

}  // namespace mf

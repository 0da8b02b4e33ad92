// Our own declarations of the part of the inference runtime's C interface that
// the library calls. No header package of the runtime is available to us, so
// the function table is declared here as an exact prefix of the runtime's
// `OrtApi` (slots 0 to 176, every one a function pointer, in the runtime's
// order). The runtime promises never to reorder or remove shipped slots, so a
// prefix is valid for every runtime at or above the interface version we ask
// for (26). Slots we never call keep their place as `OrtUnusedSlot`; the
// static_asserts below check the position of every slot we do call, which is
// what catches a dropped or duplicated line.
//
// The runtime is loaded at run time and found through `OrtGetApiBase` (see
// inference/runtime_loader.h) rather than linked: a link would bind to the versioned
// symbol of one runtime build and make the library fail to load at all when
// the runtime is missing, instead of failing initialization with a message.
#ifndef BL_ORT_API_H
#define BL_ORT_API_H

#include <stddef.h>
#include <stdint.h>

#ifdef _WIN32
#define ORT_API_CALL __stdcall
typedef wchar_t ORTCHAR_T;
#else
#define ORT_API_CALL
typedef char ORTCHAR_T;
#endif

#define BL_ORT_API_VERSION 26

#ifdef __cplusplus
extern "C" {
#endif

typedef struct OrtEnv OrtEnv;
typedef struct OrtStatus OrtStatus;
typedef struct OrtMemoryInfo OrtMemoryInfo;
typedef struct OrtArenaCfg OrtArenaCfg;
typedef struct OrtSession OrtSession;
typedef struct OrtValue OrtValue;
typedef struct OrtRunOptions OrtRunOptions;
typedef struct OrtTypeInfo OrtTypeInfo;
typedef struct OrtTensorTypeAndShapeInfo OrtTensorTypeAndShapeInfo;
typedef struct OrtSessionOptions OrtSessionOptions;
// The one runtime struct we implement rather than only point at: an
// allocator the environment may hand to its sessions. The runtime reads the
// members after Info only when `version` says they are there (18 and up), so
// ours declares version 17 and the first three.
typedef struct OrtAllocator {
    uint32_t version;
    void* (ORT_API_CALL* Alloc)(struct OrtAllocator* self, size_t size);
    void (ORT_API_CALL* Free)(struct OrtAllocator* self, void* p);
    const struct OrtMemoryInfo* (ORT_API_CALL* Info)(const struct OrtAllocator* self);
} OrtAllocator;
#define BL_ORT_ALLOCATOR_VERSION 17

typedef enum OrtErrorCode {
    ORT_OK = 0,
    ORT_FAIL = 1,
    ORT_INVALID_ARGUMENT = 2,
    ORT_NO_SUCHFILE = 3,
    ORT_NO_MODEL = 4,
    ORT_ENGINE_ERROR = 5,
    ORT_RUNTIME_EXCEPTION = 6,
    ORT_INVALID_PROTOBUF = 7,
} OrtErrorCode;

typedef enum OrtLoggingLevel {
    ORT_LOGGING_LEVEL_VERBOSE = 0,
    ORT_LOGGING_LEVEL_INFO = 1,
    ORT_LOGGING_LEVEL_WARNING = 2,
    ORT_LOGGING_LEVEL_ERROR = 3,
    ORT_LOGGING_LEVEL_FATAL = 4,
} OrtLoggingLevel;

// The runtime writes every element type it knows, not only the two named
// here: with a fixed underlying type any of them is a value this enum may
// hold, so reading an integer output's type is no undefined behaviour.
typedef enum ONNXTensorElementDataType : int {
    ONNX_TENSOR_ELEMENT_DATA_TYPE_UNDEFINED = 0,
    ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT = 1,
} ONNXTensorElementDataType;

typedef enum GraphOptimizationLevel {
    ORT_DISABLE_ALL = 0,
    ORT_ENABLE_BASIC = 1,
    ORT_ENABLE_EXTENDED = 2,
    ORT_ENABLE_ALL = 99,
} GraphOptimizationLevel;

typedef enum OrtAllocatorType {
    OrtInvalidAllocator = -1,
    OrtDeviceAllocator = 0,
    OrtArenaAllocator = 1,
} OrtAllocatorType;

typedef enum OrtMemType {
    OrtMemTypeCPUInput = -2,
    OrtMemTypeCPUOutput = -1,
    OrtMemTypeDefault = 0,
} OrtMemType;

// Placeholder for a slot we never call: same size and alignment as any
// function pointer, and never invoked.
typedef void (*OrtUnusedSlot)(void);

typedef struct OrtApi {
    OrtStatus* (ORT_API_CALL* CreateStatus)(OrtErrorCode code, const char* msg);  // 0
    OrtErrorCode (ORT_API_CALL* GetErrorCode)(const OrtStatus* status);  // 1
    const char* (ORT_API_CALL* GetErrorMessage)(const OrtStatus* status);  // 2
    OrtStatus* (ORT_API_CALL* CreateEnv)(OrtLoggingLevel log_severity_level, const char* logid, OrtEnv** out);  // 3
    OrtUnusedSlot CreateEnvWithCustomLogger;  // 4
    OrtUnusedSlot EnableTelemetryEvents;  // 5
    OrtUnusedSlot DisableTelemetryEvents;  // 6
    OrtStatus* (ORT_API_CALL* CreateSession)(const OrtEnv* env, const ORTCHAR_T* model_path, const OrtSessionOptions* options, OrtSession** out);  // 7
    OrtUnusedSlot CreateSessionFromArray;  // 8
    OrtStatus* (ORT_API_CALL* Run)(OrtSession* session, const OrtRunOptions* run_options, const char* const* input_names, const OrtValue* const* inputs, size_t input_len, const char* const* output_names, size_t output_names_len, OrtValue** outputs);  // 9
    OrtStatus* (ORT_API_CALL* CreateSessionOptions)(OrtSessionOptions** options);  // 10
    OrtUnusedSlot SetOptimizedModelFilePath;  // 11
    OrtUnusedSlot CloneSessionOptions;  // 12
    OrtUnusedSlot SetSessionExecutionMode;  // 13
    OrtUnusedSlot EnableProfiling;  // 14
    OrtUnusedSlot DisableProfiling;  // 15
    OrtUnusedSlot EnableMemPattern;  // 16
    OrtStatus* (ORT_API_CALL* DisableMemPattern)(OrtSessionOptions* options);  // 17
    OrtUnusedSlot EnableCpuMemArena;  // 18
    OrtStatus* (ORT_API_CALL* DisableCpuMemArena)(OrtSessionOptions* options);  // 19
    OrtUnusedSlot SetSessionLogId;  // 20
    OrtUnusedSlot SetSessionLogVerbosityLevel;  // 21
    OrtUnusedSlot SetSessionLogSeverityLevel;  // 22
    OrtStatus* (ORT_API_CALL* SetSessionGraphOptimizationLevel)(OrtSessionOptions* options, GraphOptimizationLevel graph_optimization_level);  // 23
    OrtStatus* (ORT_API_CALL* SetIntraOpNumThreads)(OrtSessionOptions* options, int intra_op_num_threads);  // 24
    OrtUnusedSlot SetInterOpNumThreads;  // 25
    OrtUnusedSlot CreateCustomOpDomain;  // 26
    OrtUnusedSlot CustomOpDomain_Add;  // 27
    OrtUnusedSlot AddCustomOpDomain;  // 28
    OrtUnusedSlot RegisterCustomOpsLibrary;  // 29
    OrtStatus* (ORT_API_CALL* SessionGetInputCount)(const OrtSession* session, size_t* out);  // 30
    OrtStatus* (ORT_API_CALL* SessionGetOutputCount)(const OrtSession* session, size_t* out);  // 31
    OrtUnusedSlot SessionGetOverridableInitializerCount;  // 32
    OrtStatus* (ORT_API_CALL* SessionGetInputTypeInfo)(const OrtSession* session, size_t index, OrtTypeInfo** type_info);  // 33
    OrtUnusedSlot SessionGetOutputTypeInfo;  // 34
    OrtUnusedSlot SessionGetOverridableInitializerTypeInfo;  // 35
    OrtStatus* (ORT_API_CALL* SessionGetInputName)(const OrtSession* session, size_t index, OrtAllocator* allocator, char** value);  // 36
    OrtStatus* (ORT_API_CALL* SessionGetOutputName)(const OrtSession* session, size_t index, OrtAllocator* allocator, char** value);  // 37
    OrtUnusedSlot SessionGetOverridableInitializerName;  // 38
    OrtStatus* (ORT_API_CALL* CreateRunOptions)(OrtRunOptions** out);  // 39
    OrtUnusedSlot RunOptionsSetRunLogVerbosityLevel;  // 40
    OrtUnusedSlot RunOptionsSetRunLogSeverityLevel;  // 41
    OrtUnusedSlot RunOptionsSetRunTag;  // 42
    OrtUnusedSlot RunOptionsGetRunLogVerbosityLevel;  // 43
    OrtUnusedSlot RunOptionsGetRunLogSeverityLevel;  // 44
    OrtUnusedSlot RunOptionsGetRunTag;  // 45
    OrtUnusedSlot RunOptionsSetTerminate;  // 46
    OrtUnusedSlot RunOptionsUnsetTerminate;  // 47
    OrtUnusedSlot CreateTensorAsOrtValue;  // 48
    OrtStatus* (ORT_API_CALL* CreateTensorWithDataAsOrtValue)(const OrtMemoryInfo* info, void* p_data, size_t p_data_len, const int64_t* shape, size_t shape_len, ONNXTensorElementDataType type, OrtValue** out);  // 49
    OrtUnusedSlot IsTensor;  // 50
    OrtStatus* (ORT_API_CALL* GetTensorMutableData)(OrtValue* value, void** out);  // 51
    OrtUnusedSlot FillStringTensor;  // 52
    OrtUnusedSlot GetStringTensorDataLength;  // 53
    OrtUnusedSlot GetStringTensorContent;  // 54
    OrtStatus* (ORT_API_CALL* CastTypeInfoToTensorInfo)(const OrtTypeInfo* type_info, const OrtTensorTypeAndShapeInfo** out);  // 55
    OrtUnusedSlot GetOnnxTypeFromTypeInfo;  // 56
    OrtUnusedSlot CreateTensorTypeAndShapeInfo;  // 57
    OrtUnusedSlot SetTensorElementType;  // 58
    OrtUnusedSlot SetDimensions;  // 59
    OrtStatus* (ORT_API_CALL* GetTensorElementType)(const OrtTensorTypeAndShapeInfo* info, ONNXTensorElementDataType* out);  // 60
    OrtStatus* (ORT_API_CALL* GetDimensionsCount)(const OrtTensorTypeAndShapeInfo* info, size_t* out);  // 61
    OrtStatus* (ORT_API_CALL* GetDimensions)(const OrtTensorTypeAndShapeInfo* info, int64_t* dim_values, size_t dim_values_length);  // 62
    OrtUnusedSlot GetSymbolicDimensions;  // 63
    OrtStatus* (ORT_API_CALL* GetTensorShapeElementCount)(const OrtTensorTypeAndShapeInfo* info, size_t* out);  // 64
    OrtStatus* (ORT_API_CALL* GetTensorTypeAndShape)(const OrtValue* value, OrtTensorTypeAndShapeInfo** out);  // 65
    OrtUnusedSlot GetTypeInfo;  // 66
    OrtUnusedSlot GetValueType;  // 67
    OrtUnusedSlot CreateMemoryInfo;  // 68
    OrtStatus* (ORT_API_CALL* CreateCpuMemoryInfo)(OrtAllocatorType type, OrtMemType mem_type, OrtMemoryInfo** out);  // 69
    OrtUnusedSlot CompareMemoryInfo;  // 70
    OrtUnusedSlot MemoryInfoGetName;  // 71
    OrtUnusedSlot MemoryInfoGetId;  // 72
    OrtUnusedSlot MemoryInfoGetMemType;  // 73
    OrtUnusedSlot MemoryInfoGetType;  // 74
    OrtUnusedSlot AllocatorAlloc;  // 75
    OrtStatus* (ORT_API_CALL* AllocatorFree)(OrtAllocator* ort_allocator, void* p);  // 76
    OrtUnusedSlot AllocatorGetInfo;  // 77
    OrtStatus* (ORT_API_CALL* GetAllocatorWithDefaultOptions)(OrtAllocator** out);  // 78
    OrtUnusedSlot AddFreeDimensionOverride;  // 79
    OrtUnusedSlot GetValue;  // 80
    OrtUnusedSlot GetValueCount;  // 81
    OrtUnusedSlot CreateValue;  // 82
    OrtUnusedSlot CreateOpaqueValue;  // 83
    OrtUnusedSlot GetOpaqueValue;  // 84
    OrtUnusedSlot KernelInfoGetAttribute_float;  // 85
    OrtUnusedSlot KernelInfoGetAttribute_int64;  // 86
    OrtUnusedSlot KernelInfoGetAttribute_string;  // 87
    OrtUnusedSlot KernelContext_GetInputCount;  // 88
    OrtUnusedSlot KernelContext_GetOutputCount;  // 89
    OrtUnusedSlot KernelContext_GetInput;  // 90
    OrtUnusedSlot KernelContext_GetOutput;  // 91
    void (ORT_API_CALL* ReleaseEnv)(OrtEnv* input);  // 92
    void (ORT_API_CALL* ReleaseStatus)(OrtStatus* input);  // 93
    void (ORT_API_CALL* ReleaseMemoryInfo)(OrtMemoryInfo* input);  // 94
    void (ORT_API_CALL* ReleaseSession)(OrtSession* input);  // 95
    void (ORT_API_CALL* ReleaseValue)(OrtValue* input);  // 96
    void (ORT_API_CALL* ReleaseRunOptions)(OrtRunOptions* input);  // 97
    void (ORT_API_CALL* ReleaseTypeInfo)(OrtTypeInfo* input);  // 98
    void (ORT_API_CALL* ReleaseTensorTypeAndShapeInfo)(OrtTensorTypeAndShapeInfo* input);  // 99
    void (ORT_API_CALL* ReleaseSessionOptions)(OrtSessionOptions* input);  // 100
    OrtUnusedSlot ReleaseCustomOpDomain;  // 101
    OrtUnusedSlot GetDenotationFromTypeInfo;  // 102
    OrtUnusedSlot CastTypeInfoToMapTypeInfo;  // 103
    OrtUnusedSlot CastTypeInfoToSequenceTypeInfo;  // 104
    OrtUnusedSlot GetMapKeyType;  // 105
    OrtUnusedSlot GetMapValueType;  // 106
    OrtUnusedSlot GetSequenceElementType;  // 107
    OrtUnusedSlot ReleaseMapTypeInfo;  // 108
    OrtUnusedSlot ReleaseSequenceTypeInfo;  // 109
    OrtUnusedSlot SessionEndProfiling;  // 110
    OrtUnusedSlot SessionGetModelMetadata;  // 111
    OrtUnusedSlot ModelMetadataGetProducerName;  // 112
    OrtUnusedSlot ModelMetadataGetGraphName;  // 113
    OrtUnusedSlot ModelMetadataGetDomain;  // 114
    OrtUnusedSlot ModelMetadataGetDescription;  // 115
    OrtUnusedSlot ModelMetadataLookupCustomMetadataMap;  // 116
    OrtUnusedSlot ModelMetadataGetVersion;  // 117
    OrtUnusedSlot ReleaseModelMetadata;  // 118
    OrtUnusedSlot CreateEnvWithGlobalThreadPools;  // 119
    OrtUnusedSlot DisablePerSessionThreads;  // 120
    OrtUnusedSlot CreateThreadingOptions;  // 121
    OrtUnusedSlot ReleaseThreadingOptions;  // 122
    OrtUnusedSlot ModelMetadataGetCustomMetadataMapKeys;  // 123
    OrtUnusedSlot AddFreeDimensionOverrideByName;  // 124
    OrtUnusedSlot GetAvailableProviders;  // 125
    OrtUnusedSlot ReleaseAvailableProviders;  // 126
    OrtUnusedSlot GetStringTensorElementLength;  // 127
    OrtUnusedSlot GetStringTensorElement;  // 128
    OrtUnusedSlot FillStringTensorElement;  // 129
    OrtStatus* (ORT_API_CALL* AddSessionConfigEntry)(OrtSessionOptions* options, const char* config_key, const char* config_value);  // 130
    OrtUnusedSlot CreateAllocator;  // 131
    OrtUnusedSlot ReleaseAllocator;  // 132
    OrtUnusedSlot RunWithBinding;  // 133
    OrtUnusedSlot CreateIoBinding;  // 134
    OrtUnusedSlot ReleaseIoBinding;  // 135
    OrtUnusedSlot BindInput;  // 136
    OrtUnusedSlot BindOutput;  // 137
    OrtUnusedSlot BindOutputToDevice;  // 138
    OrtUnusedSlot GetBoundOutputNames;  // 139
    OrtUnusedSlot GetBoundOutputValues;  // 140
    OrtUnusedSlot ClearBoundInputs;  // 141
    OrtUnusedSlot ClearBoundOutputs;  // 142
    OrtUnusedSlot TensorAt;  // 143
    OrtStatus* (ORT_API_CALL* CreateAndRegisterAllocator)(OrtEnv* env, const OrtMemoryInfo* mem_info, const OrtArenaCfg* arena_cfg);  // 144
    OrtUnusedSlot SetLanguageProjection;  // 145
    OrtUnusedSlot SessionGetProfilingStartTimeNs;  // 146
    OrtUnusedSlot SetGlobalIntraOpNumThreads;  // 147
    OrtUnusedSlot SetGlobalInterOpNumThreads;  // 148
    OrtUnusedSlot SetGlobalSpinControl;  // 149
    OrtUnusedSlot AddInitializer;  // 150
    OrtUnusedSlot CreateEnvWithCustomLoggerAndGlobalThreadPools;  // 151
    OrtUnusedSlot SessionOptionsAppendExecutionProvider_CUDA;  // 152
    OrtUnusedSlot SessionOptionsAppendExecutionProvider_ROCM;  // 153
    OrtUnusedSlot SessionOptionsAppendExecutionProvider_OpenVINO;  // 154
    OrtUnusedSlot SetGlobalDenormalAsZero;  // 155
    OrtStatus* (ORT_API_CALL* CreateArenaCfg)(size_t max_mem, int arena_extend_strategy, int initial_chunk_size_bytes, int max_dead_bytes_per_chunk, OrtArenaCfg** out);  // 156
    void (ORT_API_CALL* ReleaseArenaCfg)(OrtArenaCfg* cfg);  // 157
    OrtUnusedSlot ModelMetadataGetGraphDescription;  // 158
    OrtUnusedSlot SessionOptionsAppendExecutionProvider_TensorRT;  // 159
    OrtUnusedSlot SetCurrentGpuDeviceId;  // 160
    OrtUnusedSlot GetCurrentGpuDeviceId;  // 161
    OrtUnusedSlot KernelInfoGetAttributeArray_float;  // 162
    OrtUnusedSlot KernelInfoGetAttributeArray_int64;  // 163
    OrtUnusedSlot CreateArenaCfgV2;  // 164
    OrtStatus* (ORT_API_CALL* AddRunConfigEntry)(OrtRunOptions* options, const char* config_key, const char* config_value);  // 165
    OrtUnusedSlot CreatePrepackedWeightsContainer;  // 166
    OrtUnusedSlot ReleasePrepackedWeightsContainer;  // 167
    OrtUnusedSlot CreateSessionWithPrepackedWeightsContainer;  // 168
    OrtUnusedSlot CreateSessionFromArrayWithPrepackedWeightsContainer;  // 169
    OrtUnusedSlot SessionOptionsAppendExecutionProvider_TensorRT_V2;  // 170
    OrtUnusedSlot CreateTensorRTProviderOptions;  // 171
    OrtUnusedSlot UpdateTensorRTProviderOptions;  // 172
    OrtUnusedSlot GetTensorRTProviderOptionsAsString;  // 173
    OrtUnusedSlot ReleaseTensorRTProviderOptions;  // 174
    OrtUnusedSlot EnableOrtCustomOps;  // 175
    OrtStatus* (ORT_API_CALL* RegisterAllocator)(OrtEnv* env, OrtAllocator* allocator);  // 176
} OrtApi;

typedef struct OrtApiBase {
    const OrtApi* (ORT_API_CALL* GetApi)(uint32_t version);
    const char* (ORT_API_CALL* GetVersionString)(void);
} OrtApiBase;

typedef const OrtApiBase* (ORT_API_CALL* OrtGetApiBaseFn)(void);

#ifdef __cplusplus
}  // extern "C"

#define BL_ORT_SLOT(member, index) \
    static_assert(offsetof(OrtApi, member) == (index) * sizeof(void*), "OrtApi slot " #member)
BL_ORT_SLOT(CreateStatus, 0);
BL_ORT_SLOT(GetErrorCode, 1);
BL_ORT_SLOT(GetErrorMessage, 2);
BL_ORT_SLOT(CreateEnv, 3);
BL_ORT_SLOT(CreateSession, 7);
BL_ORT_SLOT(Run, 9);
BL_ORT_SLOT(CreateSessionOptions, 10);
BL_ORT_SLOT(SetSessionGraphOptimizationLevel, 23);
BL_ORT_SLOT(SetIntraOpNumThreads, 24);
BL_ORT_SLOT(SessionGetInputCount, 30);
BL_ORT_SLOT(SessionGetOutputCount, 31);
BL_ORT_SLOT(SessionGetInputTypeInfo, 33);
BL_ORT_SLOT(SessionGetInputName, 36);
BL_ORT_SLOT(SessionGetOutputName, 37);
BL_ORT_SLOT(CreateTensorWithDataAsOrtValue, 49);
BL_ORT_SLOT(GetTensorMutableData, 51);
BL_ORT_SLOT(CastTypeInfoToTensorInfo, 55);
BL_ORT_SLOT(GetTensorElementType, 60);
BL_ORT_SLOT(GetDimensionsCount, 61);
BL_ORT_SLOT(GetDimensions, 62);
BL_ORT_SLOT(GetTensorShapeElementCount, 64);
BL_ORT_SLOT(GetTensorTypeAndShape, 65);
BL_ORT_SLOT(CreateCpuMemoryInfo, 69);
BL_ORT_SLOT(AllocatorFree, 76);
BL_ORT_SLOT(GetAllocatorWithDefaultOptions, 78);
BL_ORT_SLOT(ReleaseEnv, 92);
BL_ORT_SLOT(ReleaseStatus, 93);
BL_ORT_SLOT(ReleaseMemoryInfo, 94);
BL_ORT_SLOT(ReleaseSession, 95);
BL_ORT_SLOT(ReleaseValue, 96);
BL_ORT_SLOT(ReleaseTypeInfo, 98);
BL_ORT_SLOT(ReleaseTensorTypeAndShapeInfo, 99);
BL_ORT_SLOT(ReleaseSessionOptions, 100);
BL_ORT_SLOT(AddSessionConfigEntry, 130);
BL_ORT_SLOT(DisableMemPattern, 17);
BL_ORT_SLOT(DisableCpuMemArena, 19);
BL_ORT_SLOT(CreateAndRegisterAllocator, 144);
BL_ORT_SLOT(CreateArenaCfg, 156);
BL_ORT_SLOT(ReleaseArenaCfg, 157);
BL_ORT_SLOT(CreateRunOptions, 39);
BL_ORT_SLOT(ReleaseRunOptions, 97);
BL_ORT_SLOT(AddRunConfigEntry, 165);
BL_ORT_SLOT(RegisterAllocator, 176);
#undef BL_ORT_SLOT
static_assert(sizeof(OrtApiBase) == 2 * sizeof(void*), "OrtApiBase holds two pointers");
#endif

#endif

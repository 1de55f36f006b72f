// Benchmarks of binding and refreshing, run natively against real Mesa in an
// off-screen OSMesa context (core and GL side; no Win32). Built without the
// sanitizers. Prints the ratios the performance goals are stated in:
//
// [X] binding a scene file of 1,000 and of 10,000 block lines (goal: at most 12x)
// [X] saving an edit as it is made, for 1 and 1,000 blocks, against the
//     command's own work
// [X] the geometry of a refresh at the fineness ceiling against memcpy of the
//     same bytes (goal: within 5x), with and without building the mesh
// [X] list compilation at the ceiling and at the default finenesses
// [X] the same with a skin: displacement and normals formed again (applySkin),
//     then the transform, against memcpy; list compilation of skinned blocks
// [X] a frame: drawScene and drawPickLists of a bound object
// [X] a frame of 1,000 bound objects: both passes as the exports run them
//     (key lookup, then the pass) against bare glCallList of the same lists
// [X] a 4000 x 3000 JPEG material, step by step (material_bench.cpp)
//
// Run: tools/bench.sh (builds, then runs with repetitions and medians), or
// build/native/plexa_benchmarks [--benchmark_repetitions=5]
// (--benchmark_min_time=0.001 for a quick pass).
#include <benchmark/benchmark.h>

#include <GL/osmesa.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <memory>
#include <string>
#include <vector>

#include "geometry/mesh.h"
#include "geometry/skin.h"
#include "host/instance_table.h"
#include "image/caches.h"
#include "render/draw.h"
#include "render/gl.h"
#include "render/lists.h"
#include "render/transform.h"
#include "scene/block.h"
#include "scene/scene.h"

namespace {

using namespace plexa;

std::unique_ptr<scene::Block> makeBlock(scene::BlockKind kind, int32_t fineness) {
    char line[] = "ORG[0.5,1,-2] SIZE[1,2,3] ROT[0.3,0.2,0.1] RGB[0.5,0.5,1]";
    return std::make_unique<scene::Block>(line, 0, kind, fineness);
}

// ---------------------------------------------------------------- binding

// A scene file as the writer leaves it: spheres and planes, every key present.
void writeSceneFile(const char* name, int lines) {
    std::FILE* file = std::fopen(name, "w");
    std::fputs("880\n//^always first, its the file id !!\n\n", file);
    for (int i = 0; i < lines; ++i) {
        std::fprintf(file,
                     "%s ORG[%+2.2f,+0.00,+0.00] SIZE[+1.00,+1.00,+1.00] ROT[0.000000,0.000000,0.000000] "
                     "RGB[+1.00,+0.50,+0.25] TEXTURE[ ] DENS[1.0000] SKIN[ ] SKINSCALE[0.5000] SHORTCUT[ ] TRANS[0] \n",
                     i % 2 ? "PLANE20" : "SPHERE24", i * 0.01);
    }
    std::fclose(file);
}

void Bind(benchmark::State& state) {
    const int lines = static_cast<int>(state.range(0));
    writeSceneFile("defplx00.880", lines);
    uint8_t data[512] = {};
    host::HostInstanceInfo info{};
    info.objectData = data;
    for (auto _ : state) {
        std::memcpy(data + host::object_data::kTagOffset, "PLX", 4);
        host::InstanceTable table;
        host::PluginInstance& instance = table.add(info);
        host::startInstance(instance);
        benchmark::DoNotOptimize(instance.scene->block(0));
        state.PauseTiming();   // unbinding is not binding
        table.removeAt(0);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * lines);
    state.SetLabel("lines/s = items_per_second");
}
BENCHMARK(Bind)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

// What saving an edit at once adds to a menu command: the scene written to
// NAME.new, flushed to the disk and moved over NAME, for a one-block scene
// (what every object holds) and for a 1,000-block one. Wall time: the flush
// waits for the disk.
void SaveEdit(benchmark::State& state) {
    host::PluginInstance instance;
    instance.scene = std::make_unique<scene::Scene>();
    instance.attachData(nullptr);
    std::strcpy(instance.fileName, "defplx00.880");
    {
        scene::DeferredRefresh deferred(*instance.scene);
        for (int64_t i = 0; i < state.range(0); ++i) instance.scene->addDefault(i % 2 ? scene::PLANE : scene::SPHERE);
    }
    for (auto _ : state) benchmark::DoNotOptimize(host::saveInstance(instance, host::SaveMoment::Edit));
}
BENCHMARK(SaveEdit)->Arg(1)->Arg(1000)->UseRealTime()->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------- geometry

size_t meshBytes(const scene::Block& b) {
    return (static_cast<size_t>(b.vertexCount) + b.normalCount) * sizeof(geometry::MeshEntry);
}

// What a refresh does before compiling: the transform, normals renormalised,
// the translation, into the drawing arrays.
void RefreshGeometry(benchmark::State& state) {
    auto b = makeBlock(static_cast<scene::BlockKind>(state.range(0)), geometry::kFinenessCeiling);
    render::reserveDrawingArrays(b->vertexCount, b->normalCount);
    const render::DrawingArrays& drawn = render::drawingArrays();
    for (auto _ : state) {
        render::loadBlockTransform(*b);
        render::transformMesh(*b, drawn.vertices, drawn.normals);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * meshBytes(*b)));
}
BENCHMARK(RefreshGeometry)->Arg(scene::SPHERE)->Arg(scene::PLANE)->Unit(benchmark::kMillisecond);

// The same, after building the mesh again, as "Finer" or a kind change does.
void BuildAndRefreshGeometry(benchmark::State& state) {
    auto b = makeBlock(static_cast<scene::BlockKind>(state.range(0)), geometry::kFinenessCeiling);
    render::reserveDrawingArrays(b->vertexCount, b->normalCount);
    const render::DrawingArrays& drawn = render::drawingArrays();
    for (auto _ : state) {
        b->rebuildMesh();
        render::loadBlockTransform(*b);
        render::transformMesh(*b, drawn.vertices, drawn.normals);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * meshBytes(*b)));
}
BENCHMARK(BuildAndRefreshGeometry)->Arg(scene::SPHERE)->Arg(scene::PLANE)->Unit(benchmark::kMillisecond);

// The floor: copying the mesh into the drawing arrays unchanged.
void MemcpyMesh(benchmark::State& state) {
    auto b = makeBlock(static_cast<scene::BlockKind>(state.range(0)), geometry::kFinenessCeiling);
    render::reserveDrawingArrays(b->vertexCount, b->normalCount);
    const render::DrawingArrays& drawn = render::drawingArrays();
    for (auto _ : state) {
        std::memcpy(drawn.vertices, b->vertices.get(), b->vertexCount * sizeof(geometry::MeshEntry));
        std::memcpy(drawn.normals, b->normals.get(), b->normalCount * sizeof(geometry::MeshEntry));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * meshBytes(*b)));
}
BENCHMARK(MemcpyMesh)->Arg(scene::SPHERE)->Arg(scene::PLANE)->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------- skinned geometry

// A 512 x 512 grey-level skin in the skin cache: round hills and a fine
// ripple, so that neighbouring vertices get different heights.
uint32_t benchSkin() {
    static const uint32_t id = [] {
        constexpr int32_t side = 512;
        auto entry = image::makeEntry("bench-skin.bmp", side, side);
        entry->heights.reset(new float[static_cast<size_t>(side) * side]);
        for (int32_t r = 0; r < side; ++r)
            for (int32_t c = 0; c < side; ++c)
                entry->heights[static_cast<size_t>(r) * side + c] = static_cast<float>(
                    0.5 + 0.4 * std::sin(r * 0.05) * std::sin(c * 0.07) + 0.1 * std::sin((r + c) * 0.9));
        entry->id = static_cast<uint32_t>(image::skinCache().count() + 1);
        return image::skinCache().append(std::move(entry)).id;
    }();
    return id;
}

std::unique_ptr<scene::Block> makeSkinnedBlock(scene::BlockKind kind) {
    auto b = makeBlock(kind, geometry::kFinenessCeiling);
    geometry::applySkin(*b, benchSkin());
    return b;
}

// What "Skin" and every mesh change do before compiling a skinned block:
// displacement and normals (applySkin), then the transform into the drawing
// arrays.
void SkinnedRefreshGeometry(benchmark::State& state) {
    auto b = makeSkinnedBlock(static_cast<scene::BlockKind>(state.range(0)));
    render::reserveDrawingArrays(b->vertexCount, b->normalCount);
    const render::DrawingArrays& drawn = render::drawingArrays();
    for (auto _ : state) {
        geometry::applySkin(*b, -1);
        render::loadBlockTransform(*b);
        render::transformMesh(*b, drawn.vertices, drawn.normals);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * meshBytes(*b)));
}
BENCHMARK(SkinnedRefreshGeometry)->Arg(scene::SPHERE)->Arg(scene::PLANE)->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------- lists

void CompileLists(benchmark::State& state) {
    auto b = makeBlock(static_cast<scene::BlockKind>(state.range(0)), static_cast<int32_t>(state.range(1)));
    for (auto _ : state) {
        render::refresh(*b);
        glFinish();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * b->vertexCount);
}
BENCHMARK(CompileLists)
    ->Args({scene::SPHERE, 24})
    ->Args({scene::PLANE, 20})
    ->Args({scene::SPHERE, geometry::kFinenessCeiling})
    ->Args({scene::PLANE, geometry::kFinenessCeiling})
    ->Unit(benchmark::kMillisecond);

// The list compilation of a skinned block at the ceiling (its skin applied once).
void CompileSkinnedLists(benchmark::State& state) {
    auto b = makeSkinnedBlock(static_cast<scene::BlockKind>(state.range(0)));
    for (auto _ : state) {
        render::refresh(*b);
        glFinish();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * b->vertexCount);
}
BENCHMARK(CompileSkinnedLists)->Arg(scene::SPHERE)->Arg(scene::PLANE)->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------- frames

void Frame(benchmark::State& state) {
    scene::Scene scene;
    scene.addDefault(scene::SPHERE);
    for (auto _ : state) {
        render::drawScene(scene);
        render::drawPickLists(scene);
    }
    glFinish();
}
BENCHMARK(Frame)->Unit(benchmark::kMicrosecond);

// 1,000 objects bound as the host binds them, each with its default sphere.
class BoundObjects {
public:
    static constexpr int kCount = 1000;
    BoundObjects() : data_(new uint8_t[kCount][512]()) {
        for (int i = 0; i < kCount; ++i) {
            host::HostInstanceInfo info{};
            info.key = keyOf(i);
            info.objectData = data_[i];
            host::startInstance(table_.add(info));
        }
    }
    static int32_t keyOf(int i) { return 7001 + 3 * i; }
    host::InstanceTable& table() { return table_; }

private:
    std::unique_ptr<uint8_t[][512]> data_;
    host::InstanceTable table_;
};

BoundObjects& boundObjects() {
    static BoundObjects objects;
    return objects;
}

// A frame drawn small, so that rasterising does not hide the CPU work of the
// passes; glFinish ends every frame on both sides.
struct SmallViewport {
    SmallViewport() { glViewport(0, 0, 16, 16); }
    ~SmallViewport() { glViewport(0, 0, 256, 256); }
};

// What the host's frame costs the plug-in: TimerDraw for every object, then
// PhantomDraw for every object, each finding its scene by key.
void FrameOfObjects(benchmark::State& state) {
    host::InstanceTable& table = boundObjects().table();
    SmallViewport viewport;
    for (auto _ : state) {
        for (int i = 0; i < BoundObjects::kCount; ++i)
            if (const scene::Scene* scene = table.findScene(BoundObjects::keyOf(i))) render::drawScene(*scene);
        for (int i = 0; i < BoundObjects::kCount; ++i)
            if (const scene::Scene* scene = table.findScene(BoundObjects::keyOf(i))) render::drawPickLists(*scene);
        glFinish();
    }
}
BENCHMARK(FrameOfObjects)->Unit(benchmark::kMillisecond);

// The floor: the same lists called one after another.
void FrameOfListCalls(benchmark::State& state) {
    host::InstanceTable& table = boundObjects().table();
    std::vector<GLuint> lists;
    for (int i = 0; i < table.count(); ++i) lists.push_back(table.at(i)->scene->block(0)->listBase);
    SmallViewport viewport;
    for (auto _ : state) {
        for (GLuint list : lists) glCallList(list);
        for (GLuint list : lists) glCallList(list + 1);
        glFinish();
    }
}
BENCHMARK(FrameOfListCalls)->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------- ratios

// The console report, then the ratios of the goals from the same run.
// With --benchmark_repetitions the medians are used.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    explicit RatioReporter(OutputOptions options) : ConsoleReporter(options) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred) continue;
            const double unit = benchmark::GetTimeUnitMultiplier(run.time_unit);
            const double seconds = run.GetAdjustedRealTime() / unit;
            const double cpuSeconds = run.GetAdjustedCPUTime() / unit;
            const std::string name = run.run_name.str();
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
                seconds_[name] = seconds;
                cpuSeconds_[name] = cpuSeconds;
                medians_.insert(name);
            } else if (run.run_type == Run::RT_Iteration && !medians_.count(name)) {
                seconds_[name] = seconds;
                cpuSeconds_[name] = cpuSeconds;
            }
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\nRatios (medians when repeated), each against its baseline from this run; CPU time\n"
                    "of the benchmark thread where both sides are single-threaded CPU work, else wall time:\n");
        ratio("binding 10,000 lines / 1,000 lines (goal <= 12)", "Bind/10000", "Bind/1000", Clock::Cpu);
        ratio("saving an edit, 1 block / the command's own work (lists of the default sphere)",
              "SaveEdit/1/real_time", "CompileLists/3/24");
        ratio("saving an edit, 1,000 blocks / the command's own work", "SaveEdit/1000/real_time",
              "CompileLists/3/24");
        const char* kinds[][2] = {{"sphere", "3"}, {"plane", "4"}};
        for (const auto& kind : kinds) {
            const std::string memcpyName = std::string("MemcpyMesh/") + kind[1];
            ratio(std::string("refresh geometry / memcpy, ") + kind[0] + " at the ceiling (goal <= 5)",
                  std::string("RefreshGeometry/") + kind[1], memcpyName, Clock::Cpu);
            ratio(std::string("mesh build + refresh geometry / memcpy, ") + kind[0] + " at the ceiling",
                  std::string("BuildAndRefreshGeometry/") + kind[1], memcpyName, Clock::Cpu);
            ratio(std::string("skinned refresh geometry / memcpy, ") + kind[0] + " at the ceiling",
                  std::string("SkinnedRefreshGeometry/") + kind[1], memcpyName, Clock::Cpu);
            figure(std::string("list compilation with a skin, ") + kind[0] + " at the ceiling (wall)",
                   std::string("CompileSkinnedLists/") + kind[1]);
        }
        ratio("JPEG 4000x3000: our decode / djpeg -dct float (djpeg incl. process start)", "DecodeJpeg/real_time",
              "Djpeg/float/manual_time");
        ratio("JPEG 4000x3000: our decode / djpeg default DCT (djpeg incl. process start)", "DecodeJpeg/real_time",
              "Djpeg/int/manual_time");
        ratio("material read-back (row copy for GetDIBits) / our decode", "ReadBack/real_time", "DecodeJpeg/real_time");
        ratio("material scaling (gluScaleImage to 4096x4096) / our decode", "ScaleImage/real_time",
              "DecodeJpeg/real_time");
        ratio("material scaling: gluScaleImage / ours on 1 thread, CPU (goal >= 10)", "ScaleImage/real_time",
              "OwnScaling/1/real_time", Clock::Cpu);
        ratio("material scaling: gluScaleImage / ours on 2 threads, wall (goal >= 10)", "ScaleImage/real_time",
              "OwnScaling/2/real_time");
        ratio("reducing one axis (4800x3600): gluScaleImage / ours on 1 thread, CPU", "ReducingScaling/0/real_time",
              "ReducingScaling/1/real_time", Clock::Cpu);
        ratio("reducing one axis (4800x3600): gluScaleImage / ours on 2 threads, wall", "ReducingScaling/0/real_time",
              "ReducingScaling/2/real_time");
        ratio("material upload (glTexImage2D 4096x4096) / our decode", "Upload/real_time", "DecodeJpeg/real_time");
        ratio("12 MP JPEG: material / skin, gluScaleImage as before", "Material/0/0/real_time", "Skin/0/real_time");
        ratio("12 MP JPEG: material / skin, our scaling (goal <= 2)", "Material/0/1/real_time", "Skin/0/real_time");
        ratio("12 MP bitmap: material / skin, gluScaleImage as before", "Material/1/0/real_time", "Skin/1/real_time");
        ratio("12 MP bitmap: material / skin, our scaling (goal <= 2)", "Material/1/1/real_time", "Skin/1/real_time");
        ratio("PNG 4000x3000: our decode / stb_image on the same file, CPU (goal <= 1)", "DecodePng/0/real_time",
              "DecodePng/1/real_time", Clock::Cpu);
        ratio("PNG 4000x3000: our decode / stb_image on the same file, wall", "DecodePng/0/real_time",
              "DecodePng/1/real_time");
        ratio("12 MP PNG: material / skin, our scaling (goal <= 1.5)", "Material/2/1/real_time", "Skin/2/real_time");
        ratio("material upload / memcpy of the same bytes", "Upload/real_time", "MemcpyScaled/real_time");
        ratio("frame of 1,000 objects: plug-in passes / bare glCallList", "FrameOfObjects", "FrameOfListCalls");
    }

private:
    enum class Clock { Wall, Cpu };
    // "what  ratio  (over ms / under ms)".
    void ratio(const std::string& what, const std::string& over, const std::string& under,
               Clock clock = Clock::Wall) {
        const auto& times = clock == Clock::Cpu ? cpuSeconds_ : seconds_;
        const auto a = times.find(over), b = times.find(under);
        if (a == times.end() || b == times.end() || b->second <= 0) return;
        std::printf("%-82s %7.2f  (%.3f ms / %.3f ms%s)\n", what.c_str(), a->second / b->second, a->second * 1e3,
                    b->second * 1e3, clock == Clock::Cpu ? " CPU" : "");
    }
    void figure(const std::string& what, const std::string& name) {
        const auto a = seconds_.find(name);
        if (a == seconds_.end()) return;
        std::printf("%-82s %7.1f ms\n", what.c_str(), a->second * 1e3);
    }
    std::map<std::string, double> seconds_;
    std::map<std::string, double> cpuSeconds_;
    std::set<std::string> medians_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

    // Scene files are read from the current directory, as the host's would be.
    char pattern[] = "/tmp/plexa-bench-XXXXXX";
    if (!mkdtemp(pattern) || chdir(pattern) != 0) return 1;

    OSMesaContext context = OSMesaCreateContextExt(OSMESA_RGBA, 24, 8, 0, nullptr);
    std::vector<uint8_t> pixels(4 * 256 * 256);
    if (!context || !OSMesaMakeCurrent(context, pixels.data(), GL_UNSIGNED_BYTE, 256, 256)) {
        std::fprintf(stderr, "no OSMesa context\n");
        return 1;
    }
    std::printf("GL_RENDERER = %s\n", reinterpret_cast<const char*>(glGetString(GL_RENDERER)));

    RatioReporter reporter(isatty(STDOUT_FILENO) ? benchmark::ConsoleReporter::OO_ColorTabular
                                                 : benchmark::ConsoleReporter::OO_Tabular);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    OSMesaDestroyContext(context);
    std::error_code ignored;
    std::filesystem::remove_all(pattern, ignored);
    return 0;
}

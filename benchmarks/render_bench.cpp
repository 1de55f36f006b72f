// Benchmarks of binding and refreshing, run natively against real Mesa in an
// off-screen OSMesa context (core and GL side; no Win32). Built without the
// sanitizers. Prints the ratios the performance goals are stated in:
//
// [X] binding a scene file of 1,000 and of 10,000 block lines (goal: at most 12x)
// [X] the geometry of a refresh at the fineness ceiling against memcpy of the
//     same bytes (goal: within 5x), with and without building the mesh
// [X] list compilation at the ceiling and at the default finenesses
// [X] a frame: drawScene and drawPickLists of a bound object
//
// Run: build/native/plexa_benchmarks [--benchmark_repetitions=5]
// (--benchmark_min_time=0.001 for a quick pass).
#include <benchmark/benchmark.h>

#include <GL/osmesa.h>
#include <unistd.h>

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
#include "host/instance_table.h"
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
            const double seconds = run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
            const std::string name = run.run_name.str();
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
                seconds_[name] = seconds;
                medians_.insert(name);
            } else if (run.run_type == Run::RT_Iteration && !medians_.count(name)) {
                seconds_[name] = seconds;
            }
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\n");
        ratio("binding 10,000 lines / 1,000 lines (goal <= 12)", "Bind/10000", "Bind/1000");
        const char* kinds[][2] = {{"sphere", "3"}, {"plane", "4"}};
        for (const auto& kind : kinds) {
            const std::string memcpyName = std::string("MemcpyMesh/") + kind[1];
            ratio(std::string("refresh geometry / memcpy, ") + kind[0] + " at the ceiling (goal <= 5)",
                  std::string("RefreshGeometry/") + kind[1], memcpyName);
            ratio(std::string("mesh build + refresh geometry / memcpy, ") + kind[0] + " at the ceiling",
                  std::string("BuildAndRefreshGeometry/") + kind[1], memcpyName);
        }
    }

private:
    void ratio(const std::string& what, const std::string& over, const std::string& under) {
        const auto a = seconds_.find(over), b = seconds_.find(under);
        if (a == seconds_.end() || b == seconds_.end() || b->second <= 0) return;
        std::printf("%-70s %6.2f\n", what.c_str(), a->second / b->second);
    }
    std::map<std::string, double> seconds_;
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

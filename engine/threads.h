// Worker threads: each run executes in a thread of its own at idle
// priority, owns its folder object from its start and frees everything at
// its end. Nothing a run throws leaves the thread.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "engine/custom_dossier.h"

namespace corvane {

// How a run ended, taken from its folder object just before it is freed.
struct RunOutcome {
  int code_erreur = 0;
  bool deja_en_cours = false;
  bool suspendu = false;
  std::string failure;  // what ended the run by an error; empty otherwise
};

class TWorkerThread {
 public:
  explicit TWorkerThread(std::unique_ptr<TCustomDossier> dossier);
  virtual ~TWorkerThread() = default;
  TWorkerThread(const TWorkerThread&) = delete;
  TWorkerThread& operator=(const TWorkerThread&) = delete;

  TCustomDossier& Dossier() { return *dossier_; }
  // The settings file of the folder, kept for information.
  const std::filesystem::path& FichierIni() const { return fichier_ini_; }

  // Called on the worker thread once the run and its clean-up are over,
  // just before the thread frees itself (tests and the command line wait on
  // it). Must not throw.
  void OnFinished(std::function<void()> done) { done_ = std::move(done); }
  // Called on the worker thread with the run's outcome, after its clean-up
  // and before OnFinished's callback. Must not throw.
  void OnOutcome(std::function<void(const RunOutcome&)> outcome) { outcome_ = std::move(outcome); }

  // Starts the thread at idle priority; it frees itself when it ends.
  // Returns false (and frees it) when no thread could be started.
  static bool Start(std::unique_ptr<TWorkerThread> thread);

  // Runs the run operation here and now, with the same guard.
  void Execute();

 protected:
  virtual void Run(TCustomDossier& dossier) = 0;

 private:
  std::unique_ptr<TCustomDossier> dossier_;
  std::filesystem::path fichier_ini_;
  std::function<void()> done_;
  std::function<void(const RunOutcome&)> outcome_;
};

// The backup run of a backup folder.
class Tsauvegarde final : public TWorkerThread {
 public:
  using TWorkerThread::TWorkerThread;

 protected:
  void Run(TCustomDossier& dossier) override { dossier.LanceSauvegarde(); }
};

// The archive run of an archive folder.
class TArchivage final : public TWorkerThread {
 public:
  using TWorkerThread::TWorkerThread;

 protected:
  void Run(TCustomDossier& dossier) override { dossier.LanceArchivage(); }
};

// The mirror run: deletes from the destination what the origin no longer has.
class TMiroir final : public TWorkerThread {
 public:
  using TWorkerThread::TWorkerThread;

 protected:
  void Run(TCustomDossier& dossier) override { dossier.LanceMiroir(); }
};

// The purge of the archives past their validity.
class TValideZip final : public TWorkerThread {
 public:
  using TWorkerThread::TWorkerThread;

 protected:
  void Run(TCustomDossier& dossier) override { dossier.LanceEffaceArchives(); }
};

}  // namespace corvane
